// The recognisers of a folder's first cluster, over cut and altered bytes,
// and the order in which found folders are entered.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fs/exfat/exfat_entries.h"
#include "fs/fat/fat_directory.h"
#include "fs/orphan_folders.h"

namespace ambrel {
namespace {

void Put16(std::vector<std::uint8_t>& b, std::size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// "." naming `self` and ".." naming `parent` (high words at 20 for FAT32).
std::vector<std::uint8_t> DotSector(std::uint32_t self, std::uint32_t parent) {
  std::vector<std::uint8_t> s(512, 0);
  for (int i = 0; i < 11; ++i) s[i] = s[32 + i] = ' ';
  s[0] = s[32] = s[33] = '.';
  s[11] = s[32 + 11] = 0x10;
  Put16(s, 26, self & 0xFFFF);
  Put16(s, 20, self >> 16);
  Put16(s, 32 + 26, parent & 0xFFFF);
  Put16(s, 32 + 20, parent >> 16);
  return s;
}

TEST(OrphanFolderRecognition, FatFolderStartIsCheckedStrictly) {
  const auto good = DotSector(40, 0);
  EXPECT_TRUE(IsFatFolderStart(good, 40, 1000, false));
  EXPECT_TRUE(IsFatFolderStart(DotSector(40, 7), 40, 1000, false));
  EXPECT_FALSE(IsFatFolderStart(good, 41, 1000, false)) << "\".\" names another cluster";
  EXPECT_FALSE(IsFatFolderStart(DotSector(40, 40), 40, 1000, false)) << "\"..\" names the folder itself";
  EXPECT_FALSE(IsFatFolderStart(DotSector(40, 1), 40, 1000, false)) << "\"..\" names cluster 1";
  EXPECT_FALSE(IsFatFolderStart(DotSector(40, 1001), 40, 1000, false)) << "\"..\" past the last cluster";
  EXPECT_FALSE(IsFatFolderStart(DotSector(0x10028, 0), 0x10028, 0x20000, false)) << "high word on FAT16";
  EXPECT_TRUE(IsFatFolderStart(DotSector(0x10028, 0x10001), 0x10028, 0x20000, true));
  // Cut before the end of "..": not taken, and nothing read past the bytes.
  for (std::size_t n : {0, 1, 32, 63}) EXPECT_FALSE(IsFatFolderStart(std::span(good.data(), n), 40, 1000, false)) << n;
  EXPECT_TRUE(IsFatFolderStart(std::span(good.data(), 64), 40, 1000, false));
  auto attr = good;
  attr[32 + 11] = 0x20;
  EXPECT_FALSE(IsFatFolderStart(attr, 40, 1000, false)) << "\"..\" without the directory attribute";
  attr = good;
  attr[11] = 0x18;
  EXPECT_FALSE(IsFatFolderStart(attr, 40, 1000, false)) << "\".\" with the label bit";
  attr = good;
  attr[33] = ' ';
  EXPECT_FALSE(IsFatFolderStart(attr, 40, 1000, false)) << "\".\" twice";
}

// The clusters after a freed folder's first: entries, long-name pieces and
// deleted entries continue it; an empty cluster, file data or a cut entry
// does not.
TEST(OrphanFolderRecognition, FatFolderContinuationHoldsOnlyEntries) {
  std::vector<std::uint8_t> c(512, 0);
  auto entry = [&](std::size_t i, const char* name11, std::uint8_t attributes) {
    for (int k = 0; k < 11; ++k) c[i * 32 + k] = static_cast<std::uint8_t>(name11[k]);
    c[i * 32 + 11] = attributes;
  };
  EXPECT_FALSE(ContinuesFatFolder(c)) << "an empty cluster";
  entry(0, "A01     BIN", 0x20);
  entry(1, "\xE5" "02     BIN", 0x20);
  entry(2, "B       TXT", 0x0F);  // a long-name piece (cluster field 0)
  entry(3, "SUB        ", 0x10);
  EXPECT_TRUE(ContinuesFatFolder(c));
  EXPECT_FALSE(ContinuesFatFolder(std::span(c.data(), 31))) << "a cut entry";
  auto piece = c;
  piece[2 * 32 + 26] = 7;
  EXPECT_FALSE(ContinuesFatFolder(piece)) << "a long-name piece naming a cluster";
  auto data = c;
  data[3 * 32 + 4] = 0x01;
  EXPECT_FALSE(ContinuesFatFolder(data)) << "a control byte in a short name";
  data = c;
  data[32 * 3 + 11] = 0x80;
  EXPECT_FALSE(ContinuesFatFolder(data)) << "reserved attribute bits";
  data = c;
  data[3 * 32 + 2] = '*';
  EXPECT_FALSE(ContinuesFatFolder(data)) << "a character no short name holds";
  // What follows the end mark is not looked at.
  auto ended = c;
  ended[4 * 32 + 0] = 0;
  ended[5 * 32 + 0] = 0x01;
  EXPECT_TRUE(ContinuesFatFolder(ended));
}

// A file entry set as exfat-fuse writes it: file, stream, one name entry
// for "a7.bin" (the fixture test checks the sum on sets exfat-fuse wrote).
std::vector<std::uint8_t> ExfatSet() {
  std::vector<std::uint8_t> s(512, 0);
  s[0] = 0x85;
  s[1] = 2;
  s[4] = 0x20;
  s[32] = 0xC0;
  s[33] = 0x03;
  s[35] = 6;
  s[64] = 0xC1;
  const char* name = "a7.bin";
  for (int i = 0; name[i]; ++i) s[66 + 2 * i] = static_cast<std::uint8_t>(name[i]);
  Put16(s, 2, ExfatSetChecksum(std::span(s.data(), 96)));
  return s;
}

TEST(OrphanFolderRecognition, ExfatFolderStartNeedsAWholeSetWithItsChecksum) {
  auto set = ExfatSet();
  EXPECT_TRUE(IsExfatFolderStart(set));
  // Deleted: every type loses its in-use bit; the checksum still holds.
  auto gone = set;
  for (std::size_t e : {0, 32, 64}) gone[e] &= 0x7F;
  EXPECT_TRUE(IsExfatFolderStart(gone));
  // Mixed live and deleted entries are not one set.
  auto mixed = set;
  mixed[64] = 0x41;
  EXPECT_FALSE(IsExfatFolderStart(mixed));
  // Any byte altered breaks the checksum.
  auto altered = set;
  altered[70] ^= 1;
  EXPECT_FALSE(IsExfatFolderStart(altered));
  // A name length the name entries cannot hold.
  auto length = set;
  length[35] = 16;
  Put16(length, 2, ExfatSetChecksum(std::span(length.data(), 96)));
  EXPECT_FALSE(IsExfatFolderStart(length));
  // Cut inside the set: not taken.
  for (std::size_t n : {0, 32, 64, 95}) EXPECT_FALSE(IsExfatFolderStart(std::span(set.data(), n))) << n;
  EXPECT_TRUE(IsExfatFolderStart(std::span(set.data(), 96)));
  // A secondary count beyond what a name of 255 characters needs.
  auto many = set;
  many[1] = 19;
  EXPECT_FALSE(IsExfatFolderStart(many));
}

TEST(OrphanFolderRecognition, FoldersNamedByAnotherFoundFolderComeAfterIt) {
  const std::vector<OrphanFolder> found = {{10, {30}}, {20, {}}, {30, {40}}, {40, {}}, {50, {50}}};
  EXPECT_EQ(OrphanWalkOrder(found), (std::vector<std::uint64_t>{10, 20, 50, 30, 40}));
}

TEST(OrphanFolderRecognition, SearchIsOnUpTo32GiBUnlessAsked) {
  const std::uint64_t limit = (32ull << 30) / 512;
  EXPECT_TRUE(OrphanSearchApplies(OrphanFolderSearch::kSmallVolumes, limit));
  EXPECT_FALSE(OrphanSearchApplies(OrphanFolderSearch::kSmallVolumes, limit + 1));
  EXPECT_TRUE(OrphanSearchApplies(OrphanFolderSearch::kAlways, limit * 64));
  EXPECT_FALSE(OrphanSearchApplies(OrphanFolderSearch::kOff, 1));
}

}  // namespace
}  // namespace ambrel
