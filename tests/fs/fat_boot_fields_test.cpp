// The boot-field checks on a boot sector laid out as mkfs.vfat lays out a
// 16 MiB FAT16 volume, then with one field at a time made impossible.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fs/fat/fat_boot_fields.h"

namespace ambrel {
namespace {

BootSector Fat16Boot() {
  BootSector b{};
  b[0] = 0xEB;
  b[11] = 0x00, b[12] = 0x02;  // 512 bytes per sector
  b[13] = 4;
  b[14] = 4;                   // reserved sectors
  b[16] = 2;
  b[17] = 0x00, b[18] = 0x02;  // 512 root entries
  b[19] = 0x00, b[20] = 0x80;  // 32768 sectors
  b[21] = 0xF8;
  b[22] = 32;                  // sectors per FAT
  b[510] = 0x55, b[511] = 0xAA;
  return b;
}

bool Has(const std::vector<FatBootProblem>& v, FatBootProblem p) { return std::find(v.begin(), v.end(), p) != v.end(); }

TEST(FatBootFields, AFormattedVolumeHasNoProblemAndEachBrokenFieldIsNamed) {
  EXPECT_TRUE(CheckFatBootFields(Fat16Boot(), 32768).empty());
  BootSector b = Fat16Boot();
  b[17] = 0xFF, b[18] = 0xFF;
  EXPECT_TRUE(Has(CheckFatBootFields(b, 32768), FatBootProblem::kRootEntriesPartialSector));
  b = Fat16Boot();
  b[17] = 0, b[18] = 0;
  EXPECT_TRUE(Has(CheckFatBootFields(b, 32768), FatBootProblem::kNoRootEntries));
  b = Fat16Boot();
  b[13] = 3;
  EXPECT_TRUE(Has(CheckFatBootFields(b, 32768), FatBootProblem::kClusterSizeNotPowerOfTwo));
  b = Fat16Boot();
  b[14] = 0;
  EXPECT_TRUE(Has(CheckFatBootFields(b, 32768), FatBootProblem::kNoReservedSectors));
  b = Fat16Boot();
  b[16] = 0;
  EXPECT_TRUE(Has(CheckFatBootFields(b, 32768), FatBootProblem::kNoFats));
  b = Fat16Boot();
  b[22] = 8;  // 2048 entries for ~8100 clusters
  EXPECT_TRUE(Has(CheckFatBootFields(b, 32768), FatBootProblem::kFatTooSmall));
}

// An in-memory volume: the root holds one folder entry whose cluster starts
// with "." and ".." where a 512-entry root puts the data area.
TEST(FatBootFields, TheFoldersChooseTheRootSizeAndASoundCountIsKept) {
  BootSector b = Fat16Boot();
  auto g = DecodeFatGeometry(b, 0);
  ASSERT_TRUE(g);
  std::vector<std::uint8_t> disk(32768 * 512, 0);
  std::uint8_t* entry = disk.data() + g->rootStart * 512;
  std::memcpy(entry, "PHOTOS     ", 11);
  entry[11] = 0x10;
  entry[26] = 5;
  std::uint8_t* folder = disk.data() + (g->dataStart + 3 * g->spc) * 512;
  std::memcpy(folder, ".          ", 11);
  folder[11] = 0x10;
  folder[26] = 5;
  std::memcpy(folder + 32, "..         ", 11);
  folder[43] = 0x10;
  auto read = [&](std::uint64_t lba, std::uint32_t count, std::uint8_t* out) {
    if ((lba + count) * 512 > disk.size()) return false;
    std::memcpy(out, disk.data() + lba * 512, std::size_t{count} * 512);
    return true;
  };
  EXPECT_FALSE(RootEntriesFromFolders(*g, read));
  for (std::uint16_t recorded : {65535, 1024, 16}) {
    BootSector wrong = b;
    wrong[17] = static_cast<std::uint8_t>(recorded);
    wrong[18] = static_cast<std::uint8_t>(recorded >> 8);
    auto w = DecodeFatGeometry(wrong, 0);
    ASSERT_TRUE(w);
    EXPECT_EQ(RootEntriesFromFolders(*w, read).value_or(0), 512) << recorded;
  }
  // No folder in the root: nothing to go by, the count stays.
  std::memset(entry, 0, 32);
  BootSector wrong = b;
  wrong[18] = 0x04;
  EXPECT_FALSE(RootEntriesFromFolders(*DecodeFatGeometry(wrong, 0), read));
}

}  // namespace
}  // namespace ambrel
