#include "support/test_paths.h"

#include <filesystem>
#include <unistd.h>

namespace ambrel::test {

std::string SourceDir() { return AMBREL_SOURCE_DIR; }
std::string BinaryDir() { return AMBREL_BINARY_DIR; }

std::string FixturePath(const std::string& name) { return SourceDir() + "/fixtures/" + name; }

std::string CorpusDir() {
  std::filesystem::path p = std::filesystem::path(SourceDir()).parent_path() / "shared" / "corpus";
  return std::filesystem::is_directory(p) ? p.string() : std::string();
}

std::string TempDir(const std::string& tag) {
  std::filesystem::path p = std::filesystem::temp_directory_path() /
                            ("ambrel-test-" + tag + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string();
}

}  // namespace ambrel::test
