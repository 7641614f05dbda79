#include "platform/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace ambrel {

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  lastError_ = fd_ < 0 ? errno : 0;
  return fd_ >= 0;
}

namespace {

constexpr char kNameLetters[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Six name letters drawn from a generator seeded once per thread: the names
// need only be unlikely to meet, the exclusive create settles a meeting.
std::string PartialSuffix() {
  thread_local std::mt19937_64 draw(std::random_device{}() ^ (std::uint64_t(::getpid()) << 32));
  std::uint64_t bits = draw();
  std::string out(6, '0');
  for (char& c : out) {
    c = kNameLetters[bits % 62];
    bits /= 62;
  }
  return out;
}

}  // namespace

OutputFolder::~OutputFolder() { Close(); }

bool OutputFolder::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ >= 0) path_ = path;
  return fd_ >= 0;
}

void OutputFolder::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
}

bool OutputFile::CreateTemporary(const std::string& folder) { return CreateTemporaryAt(AT_FDCWD, folder); }

bool OutputFile::CreateTemporary(const OutputFolder& folder) {
  if (folder.fd_ < 0) {
    Close();
    lastError_ = EBADF;
    return false;
  }
  return CreateTemporaryAt(folder.fd_, folder.path_);
}

bool OutputFile::CreateTemporaryAt(int folderFd, const std::string& folderPath) {
  Close();
  const std::string base = (folderPath.empty() ? std::string(".") : folderPath) + "/";
  // One exclusive create with the final mode: no name can be taken over,
  // no link followed, and no second call is needed to set the permissions.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string leaf = ".ambrel-partial-" + PartialSuffix();
    const std::string name = base + leaf;
    const char* opened = folderFd == AT_FDCWD ? name.c_str() : leaf.c_str();
    fd_ = ::openat(folderFd, opened, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0 && errno == EEXIST) continue;
    lastError_ = fd_ < 0 ? errno : 0;
    if (fd_ < 0) return false;
    // Held until the file is closed: a later run's sweep of leftovers sees
    // the lock and leaves a copy in progress alone.
    ::flock(fd_, LOCK_EX | LOCK_NB);
    temporary_ = name;
    folderFd_ = folderFd == AT_FDCWD ? -1 : folderFd;
    folderPath_ = folderFd == AT_FDCWD ? std::string() : base;
    return true;
  }
  lastError_ = EEXIST;
  return false;
}

namespace {

constexpr char kPartialPrefix[] = ".ambrel-partial-";
constexpr std::size_t kPartialPrefixLength = sizeof kPartialPrefix - 1;

bool IsAsciiAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

bool IsPartialCopyName(const std::string& name) {
  if (name.size() != kPartialPrefixLength + 6 || name.compare(0, kPartialPrefixLength, kPartialPrefix) != 0)
    return false;
  for (std::size_t i = kPartialPrefixLength; i < name.size(); ++i)
    if (!IsAsciiAlnum(name[i])) return false;
  return true;
}

std::vector<std::string> RemovePartialLeftovers(const std::string& folder) {
  std::vector<std::string> removed;
  const int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return removed;
  DIR* dir = ::fdopendir(dirFd);
  if (!dir) {
    ::close(dirFd);
    return removed;
  }
  std::vector<std::string> candidates;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (IsPartialCopyName(name)) candidates.push_back(name);
  }
  for (const std::string& name : candidates) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat opened {};
    // The very file examined, and no copy in progress holding it.
    const bool same = ::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino;
    if (same && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlinkat(dirFd, name.c_str(), 0) == 0)
      removed.push_back(name);
    ::close(fd);
  }
  ::closedir(dir);  // closes dirFd
  return removed;
}

bool OutputFile::CommitAs(const std::string& path) {
  if (temporary_.empty()) return false;
  if (!Close()) return false;
  int rc = 0;
  // Within the open folder by names alone when the new path lies in it.
  if (folderFd_ >= 0 && path.size() > folderPath_.size() && path.compare(0, folderPath_.size(), folderPath_) == 0 &&
      path.find('/', folderPath_.size()) == std::string::npos) {
    rc = ::renameat(folderFd_, temporary_.c_str() + folderPath_.size(), folderFd_, path.c_str() + folderPath_.size());
  } else {
    rc = ::rename(temporary_.c_str(), path.c_str());
  }
  if (rc != 0) {
    lastError_ = errno;
    return false;
  }
  temporary_.clear();
  return true;
}

void OutputFile::Discard() {
  Close();
  if (!temporary_.empty()) {
    if (folderFd_ >= 0) ::unlinkat(folderFd_, temporary_.c_str() + folderPath_.size(), 0);
    else ::unlink(temporary_.c_str());
  }
  temporary_.clear();
}

bool OutputFile::Write(const void* bytes, std::size_t size) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastError_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool OutputFile::Truncate(std::uint64_t size) {
  if (fd_ < 0) return false;
  if (::ftruncate(fd_, static_cast<off_t>(size)) == 0) return true;
  lastError_ = errno;
  return false;
}

bool OutputFile::Close() {
  if (fd_ < 0) return true;
  const int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) lastError_ = errno;
  return rc == 0;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsRealFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0; }

PathKind KindAtPath(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return PathKind::kNothing;
  if (S_ISREG(st.st_mode)) return PathKind::kRegularFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  return PathKind::kOther;
}

bool FreeBytesOfFolder(const std::string& folder, std::uint64_t& bytes) {
  struct statvfs vfs {};
  if (::statvfs(folder.c_str(), &vfs) != 0) return false;
  bytes = static_cast<std::uint64_t>(vfs.f_bavail) * static_cast<std::uint64_t>(vfs.f_frsize);
  return true;
}

}  // namespace ambrel
