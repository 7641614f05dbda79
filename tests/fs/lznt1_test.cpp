// LZNT1 decoding over spans and the cutting of run lists into compression
// units.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/ntfs/lznt1.h"
#include "fs/ntfs/ntfs_file_data.h"

namespace ambrel {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

std::string Decode(const std::vector<std::uint8_t>& in, std::size_t outBytes, bool* ok = nullptr) {
  std::vector<std::uint8_t> out(outBytes, 0xAA);
  auto n = Lznt1Decompress(in, out);
  if (ok) *ok = n.has_value();
  return n ? std::string(out.begin(), out.begin() + static_cast<long>(*n)) : std::string();
}

TEST(Lznt1, BackReferencesRepeatEarlierBytes) {
  // "abc", then offset 3 length 9: token (2 << 12) | 6 at position 3.
  const auto chunk = Bytes({0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20});
  EXPECT_EQ(Decode(chunk, 4096), "abcabcabcabc");
  // Overlapping copy of one byte: offset 1, length 10.
  const auto run = Bytes({0x03, 0xB0, 0x02, 'x', 0x07, 0x00});
  EXPECT_EQ(Decode(run, 4096), std::string(11, 'x'));
}

TEST(Lznt1, TheOffsetFieldWidensAsThePositionGrows) {
  // 20 literals, then a token at position 20: 5 offset bits, 11 length bits.
  std::vector<std::uint8_t> chunk{0, 0};
  std::string literals = "ABCDEFGHIJKLMNOPQRST";
  for (int group = 0; group < 3; ++group) {
    chunk.push_back(group == 2 ? 0x10 : 0x00);
    for (int i = 0; i < (group == 2 ? 4 : 8); ++i) chunk.push_back(static_cast<std::uint8_t>(literals[group * 8 + i]));
    if (group == 2) {
      const std::uint16_t token = static_cast<std::uint16_t>((19u << 11) | (5 - 3));  // offset 20, length 5
      chunk.push_back(token & 0xFF);
      chunk.push_back(token >> 8);
    }
  }
  const std::size_t body = chunk.size() - 2;
  chunk[0] = static_cast<std::uint8_t>((body - 1) & 0xFF);
  chunk[1] = static_cast<std::uint8_t>(0xB0 | ((body - 1) >> 8));
  EXPECT_EQ(Decode(chunk, 4096), literals + "ABCDE");
}

TEST(Lznt1, RawChunksAndShortChunksArePaddedToFourKiB) {
  std::vector<std::uint8_t> raw{0xFF, 0x3F};  // 4096 bytes stored as they are
  for (int i = 0; i < 4096; ++i) raw.push_back(static_cast<std::uint8_t>(i));
  const auto second = Bytes({0x01, 0xB0, 0x00, 'z'});
  std::vector<std::uint8_t> both = second;
  both.insert(both.end(), raw.begin(), raw.end());
  const std::string out = Decode(both, 16384);
  ASSERT_EQ(out.size(), 8192u);
  EXPECT_EQ(out.substr(0, 1), "z");
  EXPECT_EQ(out.substr(1, 4095), std::string(4095, '\0'));
  EXPECT_EQ(static_cast<std::uint8_t>(out[4096 + 300]), 300 % 256);
  // Output is never written past its span.
  EXPECT_EQ(Decode(raw, 100).size(), 100u);
}

TEST(Lznt1, MalformedChunksAreRejected) {
  bool ok = true;
  Decode(Bytes({0x03, 0xB0, 0x01, 0x00, 0x00}), 4096, &ok);  // reference at position 0
  EXPECT_FALSE(ok);
  Decode(Bytes({0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x50}), 4096, &ok);  // offset 6 > position 3
  EXPECT_FALSE(ok);
  Decode(Bytes({0x40, 0xB0, 0x00, 'a'}), 4096, &ok);  // the chunk passes the end of the input
  EXPECT_FALSE(ok);
  EXPECT_EQ(Decode(Bytes({0x00, 0x00, 0x05, 0xB0}), 4096, &ok), "");  // a zero header ends the data
  EXPECT_TRUE(ok);
}

DataExtent RunOf(std::uint64_t lba, std::uint64_t clusters, bool sparse = false) {
  DataExtent e;
  e.startSector = lba;
  e.clusterCount = clusters;
  e.sectorCount = clusters * 8;
  e.sparse = sparse;
  return e;
}

TEST(CompressionUnits, UnitsAreCompressedStoredOrSparseByTheirRuns) {
  // 3 data clusters + 13 sparse: compressed. Then 20 data clusters: one
  // whole unit and 4 clusters of the next, which 12 sparse ones complete.
  const ExtentList extents{RunOf(1000, 3), RunOf(0, 13, true), RunOf(2000, 20), RunOf(0, 12, true), RunOf(0, 16, true)};
  const auto units = SplitCompressionUnits(extents, 8, 16, 100);
  ASSERT_EQ(units.size(), 4u);
  EXPECT_TRUE(units[0].compressed);
  EXPECT_EQ(units[0].dataSectors, 24u);
  ASSERT_EQ(units[0].pieces.size(), 1u);
  EXPECT_EQ(units[0].pieces[0].startSector, 1000u);
  EXPECT_FALSE(units[1].compressed);
  EXPECT_EQ(units[1].dataSectors, 128u);
  EXPECT_TRUE(units[2].compressed);
  EXPECT_EQ(units[2].pieces[0].startSector, 2000u + 16 * 8);
  EXPECT_EQ(units[3].dataSectors, 0u);  // sparse: zeros
  // A run length no file has stops at the file's units.
  EXPECT_EQ(SplitCompressionUnits({RunOf(5, 0xFFFFFFFFull)}, 8, 16, 3).size(), 3u);
  std::vector<std::uint8_t> plain(4096 * 16, 1);
  EXPECT_TRUE(ExpandCompressionUnit(units[3], {}, plain));
  EXPECT_EQ(plain[100], 0);
}

}  // namespace
}  // namespace ambrel
