#include "support/test_paths.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <vector>
#include <unistd.h>

namespace ambrel::test {

std::string SourceDir() { return AMBREL_SOURCE_DIR; }
std::string BinaryDir() { return AMBREL_BINARY_DIR; }

std::string FixturePath(const std::string& name) { return SourceDir() + "/fixtures/" + name; }

std::string CorpusDir() {
  if (const char* env = std::getenv("AMBREL_CORPUS"); env && std::filesystem::is_directory(env)) return env;
  // shared/corpus beside the checkout, or beside a folder above it (worktrees).
  for (std::filesystem::path p = std::filesystem::path(SourceDir()).parent_path(); !p.empty();
       p = p.parent_path()) {
    if (std::filesystem::is_directory(p / "shared" / "corpus")) return (p / "shared" / "corpus").string();
    if (p == p.parent_path()) break;
  }
  return std::string();
}

namespace {

// Every folder TempDir hands out is removed when the test process exits, so a
// full run leaves nothing behind and its peak use of the temporary folder is
// that of the tests running at one time. AMBREL_KEEP_TEST_TEMP=1 keeps them
// for a look after a failure. A forked child exits without touching them.
class TempDirRegistry {
 public:
  void Add(const std::filesystem::path& p) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.push_back(p);
  }
  ~TempDirRegistry() {
    if (::getpid() != owner_) return;
    if (const char* keep = std::getenv("AMBREL_KEEP_TEST_TEMP"); keep && std::strcmp(keep, "0") != 0) return;
    for (const auto& p : paths_) {
      std::error_code ec;
      std::filesystem::remove_all(p, ec);
    }
  }

 private:
  std::mutex mutex_;
  std::vector<std::filesystem::path> paths_;
  pid_t owner_ = ::getpid();
};

TempDirRegistry& Registry() {
  static TempDirRegistry registry;
  return registry;
}

}  // namespace

std::string TempDir(const std::string& tag) {
  std::filesystem::path p = std::filesystem::temp_directory_path() /
                            ("ambrel-test-" + tag + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  Registry().Add(p);
  return p.string();
}

namespace {

// read(buf, len) answers the bytes read, 0 at the end, -1 on an error.
bool WriteSparse(const std::function<long(char*, std::size_t)>& read, const std::string& to) {
  // Runs of zero blocks become holes: most of a test image is free space.
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  constexpr std::size_t kBlock = 4096;
  std::vector<char> buf(1 << 20);
  std::uint64_t total = 0;
  bool holeAtEnd = false;
  for (;;) {
    const long got = read(buf.data(), buf.size());
    if (got < 0) return false;
    if (got == 0) break;
    const std::size_t n = static_cast<std::size_t>(got);
    for (std::size_t at = 0; at < n; at += kBlock) {
      const std::size_t len = std::min(kBlock, n - at);
      bool zero = true;
      for (std::size_t i = 0; i < len && zero; ++i) zero = buf[at + i] == 0;
      if (zero) {
        out.seekp(static_cast<std::streamoff>(len), std::ios::cur);
      } else {
        out.write(buf.data() + at, static_cast<std::streamsize>(len));
      }
      holeAtEnd = zero;
      total += len;
    }
  }
  if (!out) return false;
  out.close();
  // A trailing hole is not written; the size has to be set.
  if (holeAtEnd) {
    std::error_code ec;
    std::filesystem::resize_file(to, total, ec);
    if (ec) return false;
  }
  return true;
}

}  // namespace

bool CopyImage(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  return WriteSparse(
      [&](char* buf, std::size_t len) -> long {
        in.read(buf, static_cast<std::streamsize>(len));
        if (in.bad()) return -1;
        return static_cast<long>(in.gcount());
      },
      to);
}

}  // namespace ambrel::test

#include <fstream>
#include <sstream>
#include <zlib.h>

namespace ambrel::test {

std::string FixtureImage(const std::string& name) {
  std::string gz = SourceDir() + "/fixtures/images/" + name + ".img.gz";
  if (!std::filesystem::exists(gz)) return {};
  std::filesystem::path dir = std::filesystem::path(BinaryDir()) / "fixture-images";
  std::filesystem::create_directories(dir);
  std::filesystem::path out = dir / (name + ".img");
  if (std::filesystem::exists(out) &&
      std::filesystem::last_write_time(out) >= std::filesystem::last_write_time(gz))
    return out.string();
  // Decompress to a private name first so parallel tests never see half a file.
  std::filesystem::path tmp = dir / (name + ".img.part" + std::to_string(::getpid()));
  gzFile in = gzopen(gz.c_str(), "rb");
  if (!in) return {};
  const bool ok = WriteSparse([&](char* buf, std::size_t len) -> long {
    return gzread(in, buf, static_cast<unsigned>(len));
  }, tmp.string());
  gzclose(in);
  if (!ok) {
    std::error_code ec;
    std::filesystem::remove(tmp, ec);
    return {};
  }
  std::filesystem::rename(tmp, out);
  return out.string();
}

// Columns: volume, path, size, md5, state (live|deleted), type (file|dir).
// Lines starting with '#' are comments.
std::vector<ManifestEntry> LoadManifest(const std::string& name) {
  std::vector<ManifestEntry> out;
  std::ifstream in(SourceDir() + "/fixtures/images/" + name + ".manifest.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) f.push_back(field);
    if (f.size() < 6) continue;
    ManifestEntry e;
    e.volume = f[0];
    e.path = f[1];
    e.size = std::stoull(f[2]);
    e.md5 = f[3];
    e.deleted = f[4] == "deleted";
    e.directory = f[5] == "dir";
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace ambrel::test
