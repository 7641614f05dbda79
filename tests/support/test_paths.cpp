#include "support/test_paths.h"

#include <cstdlib>
#include <filesystem>
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

std::string TempDir(const std::string& tag) {
  std::filesystem::path p = std::filesystem::temp_directory_path() /
                            ("ambrel-test-" + tag + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string();
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
  std::ofstream os(tmp, std::ios::binary);
  std::vector<char> buf(1 << 20);
  int n;
  while ((n = gzread(in, buf.data(), static_cast<unsigned>(buf.size()))) > 0) os.write(buf.data(), n);
  gzclose(in);
  os.close();
  if (n < 0) return {};
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
