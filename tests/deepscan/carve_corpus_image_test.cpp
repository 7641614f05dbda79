// Every corpus file once in one raw image among junk and decoys (see
// corpus_image_support.h); a deep scan of the whole image must carve each
// file to the byte. The smaller, fixed-seed sibling of scripts/carve_corpus_compare.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "carve_support.h"
#include "corpus_image_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using test::Bytes;

// Files whose bytes go on past the end their own format states (data
// appended by the tool that wrote the sample, a file cut short in the
// corpus).
const std::set<std::string> kNotWhole = {
    "avi/Pentax.avi",        // the RIFF size is 117 MB, the file 1672 bytes
    "cr2/CanonRaw.cr2",      // "Non-TIFF data test" after the TIFF
    "mid/testMID.mid",       // bytes after the last track
    "mp3/bear-id3.mp3",      // a byte after the last frame
    "mp3/chinese_id3.mp3",   // a tag and two frames
    "mp3/id3v22-test.mp3",   // a tag and padding
    "rw2/Panasonic.rw2",     // the raw data cut to a placeholder
};

bool IsTextType(const std::string& path) {
  return path.starts_with("txt/") || path.starts_with("html/") || path.starts_with("xml/");
}

TEST(CarveCorpusImage, EveryFileOnceAmongJunkAndDecoys) {
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  const test::CorpusImageLayout layout = test::BuildCorpusImage(20);
  const Bytes& image = layout.image;
  const std::vector<test::PlantedFile>& files = layout.files;

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
  for (const test::PlantedFile& file : files) {
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
