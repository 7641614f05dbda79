// Entry-level helpers of the FAT copy comparison: 12-bit entries share a
// byte with their neighbour, FAT32's top nibble is reserved.
#include <gtest/gtest.h>

#include <vector>

#include "fs/fat/fat_copies.h"

namespace ambrel {
namespace {

TEST(FatCopies, TwelveBitEntriesAreWrittenWithoutTouchingTheirNeighbours) {
  std::vector<std::uint8_t> fat(12, 0);
  FatGeometry widths;
  widths.fat12 = true;
  for (std::uint32_t c = 0; c < 8; ++c) SetFatEntry(fat, 12, c, 0xA00 + c);
  SetFatEntry(fat, 12, 3, 0x123);
  SetFatEntry(fat, 12, 4, 0xFFF);
  const FatEntries e(fat, widths);
  for (std::uint32_t c = 0; c < 8; ++c) {
    const std::uint32_t want = c == 3 ? 0x123 : c == 4 ? 0xFFFF : 0xA00 + c;  // end marks read as 16-bit
    EXPECT_EQ(e.Next(c), want) << c;
  }
  // Past the end nothing is written.
  const std::vector<std::uint8_t> before = fat;
  SetFatEntry(fat, 12, 8, 0x777);
  SetFatEntry(fat, 16, 6, 0x7777);
  SetFatEntry(fat, 32, 3, 0x7777);
  EXPECT_EQ(fat, before);
}

TEST(FatCopies, Fat32KeepsTheReservedNibbleAndIgnoresItWhenComparing) {
  std::vector<std::uint8_t> a(64, 0), b(64, 0);
  SetFatEntry(a, 32, 5, 6);
  SetFatEntry(b, 32, 5, 6);
  b[5 * 4 + 3] |= 0xF0;  // reserved bits differ only
  EXPECT_EQ(CountDifferingFatEntries(a, b, 32), 0u);
  SetFatEntry(b, 32, 5, 9);
  EXPECT_EQ(b[5 * 4 + 3] & 0xF0, 0xF0);
  SetFatEntry(b, 32, 9, 0x0FFFFFFF);
  EXPECT_EQ(CountDifferingFatEntries(a, b, 32), 2u);
}

TEST(FatCopies, DifferencesAreCountedPerEntryAcrossBlocks) {
  // 16-bit entries over two comparison blocks; 12-bit entries straddling.
  std::vector<std::uint8_t> a(10000, 0), b(10000, 0);
  SetFatEntry(b, 16, 3, 4);
  SetFatEntry(b, 16, 2047, 1);  // last entry of the first 4 KiB block
  SetFatEntry(b, 16, 2048, 1);  // first entry of the second
  SetFatEntry(b, 16, 4999, 1);
  EXPECT_EQ(CountDifferingFatEntries(a, b, 16), 4u);
  std::vector<std::uint8_t> c(9000, 0), d(9000, 0);
  SetFatEntry(d, 12, 2730, 5);  // its bytes straddle the 4 KiB boundary
  SetFatEntry(d, 12, 11, 5);
  EXPECT_EQ(CountDifferingFatEntries(c, d, 12), 2u);
  // Entries 0 and 1 are the media descriptor and flags, not chains.
  SetFatEntry(c, 12, 1, 0xFF0);
  EXPECT_EQ(CountDifferingFatEntries(c, d, 12), 2u);
}

}  // namespace
}  // namespace ambrel
