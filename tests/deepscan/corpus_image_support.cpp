#include "corpus_image_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "deepscan/scan_hit.h"
#include "support/test_paths.h"

namespace ambrel::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes TextJunk(std::mt19937& random, std::size_t length) {
  static const char* kWords[] = {"the", "card", "photo", "file", "folder", "record", "of", "and", "to", "data"};
  std::string out;
  while (out.size() < length) {
    out += kWords[random() % 10];
    out += (random() % 9 == 0) ? ".\n" : " ";
  }
  return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace

CorpusImageLayout BuildCorpusImage(std::uint32_t seed) {
  CorpusImageLayout out;
  const std::string corpus = CorpusDir();
  if (corpus.empty()) return out;
  std::vector<PlantedFile>& files = out.files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
    if (!entry.is_regular_file() || entry.path().filename() == "MANIFEST.tsv") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files.push_back(PlantedFile{std::filesystem::relative(entry.path(), corpus).string(),
                                Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())});
  }
  std::sort(files.begin(), files.end(), [](const PlantedFile& a, const PlantedFile& b) { return a.path < b.path; });
  std::mt19937 random(seed);
  std::shuffle(files.begin(), files.end(), random);

  Bytes& image = out.image;
  auto sectors = [&] { return image.size() / 512; };
  std::uint64_t nextBoundary = kChunkSectors;
  for (PlantedFile& file : files) {
    // Junk: one to three pieces of 1..160 sectors.
    const int pieces = 1 + static_cast<int>(random() % 3);
    bool text = false;
    for (int p = 0; p < pieces; ++p) {
      const std::size_t length = (1 + random() % 160) * 512;
      const unsigned kind = random() % 4;
      Bytes junk(length, 0);
      if (kind == 0) for (auto& b : junk) b = static_cast<std::uint8_t>(random());
      if (kind == 2) junk = TextJunk(random, length);
      if (kind == 3) {
        const Bytes& other = files[random() % files.size()].bytes;
        const std::size_t keep = std::min(length, other.size() / 2 / 512 * 512);
        for (auto& b : junk) b = static_cast<std::uint8_t>(random());
        std::copy_n(other.begin(), keep, junk.begin());
      }
      image.insert(image.end(), junk.begin(), junk.end());
      text = kind == 2;
    }
    // Across the next chunk boundary when the file reaches it.
    const std::uint64_t fileSectors = (file.bytes.size() + 511) / 512;
    if (sectors() < nextBoundary && sectors() + fileSectors + 2048 > nextBoundary && fileSectors > 2) {
      const std::uint64_t start = nextBoundary - fileSectors / 2;
      if (start > sectors()) {
        image.resize(start * 512, 0);
        text = false;
      }
      nextBoundary += kChunkSectors;
    }
    while (sectors() >= nextBoundary) nextBoundary += kChunkSectors;
    file.lba = sectors();
    file.afterText = text;
    image.insert(image.end(), file.bytes.begin(), file.bytes.end());
    image.resize((image.size() + 511) / 512 * 512, 0);
  }
  image.resize(image.size() + 64 * 512, 0);
  return out;
}

}  // namespace ambrel::test
