// Every corpus file once in one raw image, contiguous at sector-aligned
// places, some across the 8 MiB chunk boundaries, with random bytes, zeros,
// lines of text and cut decoys (the first sectors of other corpus files)
// between them; a deep scan of the whole image must carve each file to the
// byte. The smaller, fixed-seed sibling of scripts/carve_corpus_compare.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "carve_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using test::Bytes;

// Files whose bytes go on past the end their own format states (data
// appended by the tool that wrote the sample, a file cut short in the
// corpus), or without a size rule.
const std::set<std::string> kNotWhole = {
    "avi/Pentax.avi",        // the RIFF size is 117 MB, the file 1672 bytes
    "cr2/CanonRaw.cr2",      // "Non-TIFF data test" after the TIFF
    "mid/testMID.mid",       // bytes after the last track
    "mp3/bear-id3.mp3",      // a byte after the last frame
    "mp3/chinese_id3.mp3",   // a tag and two frames
    "mp3/id3v22-test.mp3",   // a tag and padding
    "raf/FujiFilm.raf",      // bytes after the raw data
    "rw2/Panasonic.rw2",     // the raw data's length is not stated
    "mdb/testACCESS.mdb",    // no size rule
    "mdb/testAccess_V1997.mdb",
    "accdb/testAccess2.accdb",
};

bool IsTextType(const std::string& path) {
  return path.starts_with("txt/") || path.starts_with("html/") || path.starts_with("xml/");
}

struct Planted {
  std::string path;
  Bytes bytes;
  std::uint64_t lba = 0;
  bool afterText = false;  // text junk fills the sector before it
};

Bytes TextJunk(std::mt19937& random, std::size_t length) {
  static const char* kWords[] = {"the", "card", "photo", "file", "folder", "record", "of", "and", "to", "data"};
  std::string out;
  while (out.size() < length) {
    out += kWords[random() % 10];
    out += (random() % 9 == 0) ? ".\n" : " ";
  }
  return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length));
}

TEST(CarveCorpusImage, EveryFileOnceAmongJunkAndDecoys) {
  const std::string corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not found";
  std::vector<Planted> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
    if (!entry.is_regular_file() || entry.path().filename() == "MANIFEST.tsv") continue;
    const std::string path = std::filesystem::relative(entry.path(), corpus).string();
    files.push_back(Planted{path, test::CorpusFile(path)});
  }
  std::sort(files.begin(), files.end(), [](const Planted& a, const Planted& b) { return a.path < b.path; });
  std::mt19937 random(20);
  std::shuffle(files.begin(), files.end(), random);

  Bytes image;
  auto sectors = [&] { return image.size() / 512; };
  std::uint64_t nextBoundary = kChunkSectors;
  for (Planted& file : files) {
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

  test::CarveRun run = test::CarveImage(image);
  ASSERT_TRUE(run.foundFiles);
  std::map<std::uint64_t, std::uint64_t> carved;  // first sector -> size
  const FoundFileTable& table = run.foundFiles->table;
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* n = NodeAt(table, id);
    if (!n || !IsFileKind(KindOf(*n))) continue;
    const std::uint64_t first = n->dataSector, size = n->size;  // packed fields: copied before use
    carved[first] = size;
  }
  std::size_t exact = 0, expected = 0, straddling = 0;
  for (const Planted& file : files) {
    const bool whole = carved.count(file.lba) && carved[file.lba] == file.bytes.size();
    exact += whole;
    straddling += (file.lba >> 14) != ((file.lba * 512 + file.bytes.size() - 1) / 512 >> 14);
    // Text right after text junk cannot be told from it.
    if (kNotWhole.count(file.path) || (file.afterText && IsTextType(file.path))) continue;
    ++expected;
    EXPECT_TRUE(whole) << file.path << " at " << file.lba << ": "
                       << (carved.count(file.lba) ? std::to_string(carved[file.lba]) : std::string("none"))
                       << " of " << file.bytes.size();
  }
  EXPECT_GE(straddling, 2u);
  EXPECT_GE(expected, files.size() - kNotWhole.size() - 4);
  std::printf("%zu of %zu files carved to the byte\n", exact, files.size());
}

}  // namespace
}  // namespace ambrel
