// Paths of the source tree, the build tree and the shared corpus for tests.
#pragma once

#include <string>

namespace ambrel::test {

std::string SourceDir();              // the repository root
std::string BinaryDir();              // the build folder
std::string FixturePath(const std::string& name);   // fixtures/<name>
std::string CorpusDir();              // ../shared/corpus beside the checkout; empty when absent
std::string TempDir(const std::string& tag);        // a fresh empty folder, removed when the test exits
bool CopyImage(const std::string& from, const std::string& to);  // a sparse copy of an image file

}  // namespace ambrel::test

#include <cstdint>
#include <vector>

namespace ambrel::test {

// Fixture images are committed gzip-compressed as fixtures/images/<name>.img.gz
// with fixtures/images/<name>.manifest.tsv beside them. FixtureImage
// decompresses an image once into the build folder and returns its path
// (empty when the image is not there).
std::string FixtureImage(const std::string& name);

// One line of a manifest: path inside the volume ("/" separated, UTF-8),
// size, md5 (lower-case hex) and whether the entry was deleted.
struct ManifestEntry {
  std::string volume;   // partition number as text for disk images, else ""
  std::string path;
  std::uint64_t size = 0;
  std::string md5;
  bool deleted = false;
  bool directory = false;
};
std::vector<ManifestEntry> LoadManifest(const std::string& name);

}  // namespace ambrel::test
