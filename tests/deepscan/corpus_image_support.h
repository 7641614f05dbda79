// A raw image of every corpus file once, contiguous at sector-aligned
// places, some across the 8 MiB chunk boundaries, with random bytes, zeros,
// lines of text and cut decoys (the first sectors of other corpus files)
// between them: what a deep scan must carve each file out of.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ambrel::test {

struct PlantedFile {
  std::string path;                // "jpg/tokyo.jpg", relative to the corpus
  std::vector<std::uint8_t> bytes;
  std::uint64_t lba = 0;
  bool afterText = false;  // text junk fills the sector before it
};

struct CorpusImageLayout {
  std::vector<std::uint8_t> image;  // empty without the corpus
  std::vector<PlantedFile> files;    // in the order they were planted
};

// The same image for the same seed.
CorpusImageLayout BuildCorpusImage(std::uint32_t seed);

}  // namespace ambrel::test
