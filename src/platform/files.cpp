#include "platform/files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>


namespace ambrel {
namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string ParentOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

bool MakeOneFolder(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && FolderExists(path));
}

bool MakeFolderTree(const std::string& path, int depth) {
  if (path.empty()) return false;
  if (FolderExists(path)) return true;
  if (MakeOneFolder(path)) return true;
  if (depth > 64) return false;
  const std::string parent = ParentOf(path);
  if (parent.empty() || parent == path || !MakeFolderTree(parent, depth + 1)) return false;
  return MakeOneFolder(path);
}

bool IsWritableFolder(const std::string& folder) {
  return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserDataFolder() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
    return WithSlash(xdg) + "ambrel/";
  if (const char* home = std::getenv("HOME"); home && *home)
    return WithSlash(home) + ".local/share/ambrel/";
  return "/tmp/ambrel/";
}

struct ProgramFolderState {
  std::once_flag once;
  std::mutex lock;
  std::string folder;
};

ProgramFolderState& FolderState() {
  static ProgramFolderState state;
  return state;
}

}  // namespace

WholeFileRead ReadRegularFile(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t maxBytes) {
  out.clear();
  // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? WholeFileRead::kMissing : WholeFileRead::kFailed;
  struct stat st {};
  WholeFileRead result = WholeFileRead::kRead;
  if (::fstat(fd, &st) != 0) result = WholeFileRead::kFailed;
  else if (!S_ISREG(st.st_mode)) result = WholeFileRead::kNotRegular;
  else if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > maxBytes) result = WholeFileRead::kTooLarge;
  if (result == WholeFileRead::kRead) {
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (result == WholeFileRead::kRead && done < out.size()) {
      const ssize_t got = ::read(fd, out.data() + done, out.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) result = WholeFileRead::kFailed;
      else done += static_cast<std::size_t>(got);
    }
  }
  ::close(fd);
  if (result != WholeFileRead::kRead) out.clear();
  return result;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t maxBytes) {
  return ReadRegularFile(path, out, maxBytes) == WholeFileRead::kRead;
}

bool WriteWholeFile(const std::string& path, const void* bytes, std::size_t size) {
  // O_NONBLOCK: opening a FIFO for writing would wait for a reader.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return false;
  }
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < size) {
    const ssize_t put = ::write(fd, p + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) ok = false;
    else done += static_cast<std::size_t>(put);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool EnsureFolder(const std::string& path) {
  return MakeFolderTree(path, 0);
}

std::string ExecutableFolder() {
  static const std::string folder = [] {
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return std::string("./");
    std::string exe(buf, static_cast<std::size_t>(n));
    return WithSlash(ParentOf(exe));
  }();
  return folder;
}

std::string ProgramFolder() {
  ProgramFolderState& s = FolderState();
  std::call_once(s.once, [&s] {
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.folder.empty()) return;
    const std::string exeFolder = ExecutableFolder();
    if (IsWritableFolder(exeFolder)) {
      s.folder = exeFolder;
      return;
    }
    const std::string user = UserDataFolder();
    s.folder = MakeFolderTree(user, 0) ? user : "/tmp/";
  });
  std::lock_guard<std::mutex> guard(s.lock);
  return s.folder;
}

void SetProgramFolder(const std::string& folder) {
  ProgramFolderState& s = FolderState();
  std::call_once(s.once, [] {});
  std::lock_guard<std::mutex> guard(s.lock);
  s.folder = WithSlash(folder);
}

std::string RuntimeFolder() {
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/' && IsWritableFolder(run))
    return WithSlash(run);
  return "/tmp/";
}

}  // namespace ambrel
