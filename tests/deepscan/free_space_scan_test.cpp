// Scans of the free-space modes over images made by mkfs.fat and mkntfs:
// only the chunks the FAT or the $Bitmap show free are read, and a volume
// without a cluster geometry is scanned whole.
#include <gtest/gtest.h>

#include <cstring>

#include "deepscan/scan_session.h"
#include "deepscan_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

PartitionInfo VolumeOfImage(const std::string& path, std::int32_t kind) {
  test::Bytes image = test::ReadImage(path);
  PartitionInfo p;
  p.fsKind = kind;
  p.sectorCount = p.diskSectorCount = image.size() / 512;
  std::memcpy(p.bootSector.data(), image.data(), 512);
  p.diskPath = path;
  return p;
}

std::uint64_t ScanReads(const std::string& path, std::int32_t kind, RecoveryMode mode, RecoveryMode* usedMode,
                        std::uint64_t* freeChunks) {
  PartitionInfo p = VolumeOfImage(path, kind);
  if (freeChunks) {
    FreeSpaceMap map;
    EXPECT_TRUE(map.Load(p));
    // The closing boundary chunk of the list may lie past the disk.
    *freeChunks = 0;
    for (std::uint64_t lba : map.FreeChunks(0, p.sectorCount))
      *freeChunks += (lba >> kChunkShift) < ChunkCountOf(p.diskSectorCount);
  }
  ScanEnvironment env;
  env.pollMs = 1;
  env.organiseDelayMs = 0;
  const DeepScanSettings settings = DefaultScanSettings(p, mode);
  ScanSession scan(std::move(p), mode, settings, env);
  EXPECT_TRUE(scan.Start());
  scan.Join();
  *usedMode = scan.Mode();
  return scan.ReadsCounted();
}

TEST(FreeSpaceScan, FatDeletedFilesModeReadsOnlyFreeChunks) {
  const std::string path = test::FixtureImage("fat32-default");
  ASSERT_FALSE(path.empty());
  RecoveryMode mode = RecoveryMode::kAllFiles;
  std::uint64_t free = 0;
  const std::uint64_t reads = ScanReads(path, kFsFat32, RecoveryMode::kDeletedFiles, &mode, &free);
  EXPECT_EQ(mode, RecoveryMode::kDeletedFiles);
  EXPECT_EQ(reads, free);
  EXPECT_LE(reads, 32u);  // the image's 32 chunks, each at most once
  EXPECT_GT(reads, 0u);
}

TEST(FreeSpaceScan, NtfsRecycledModeReadsOnlyChunksWithClearBits) {
  const std::string path = test::FixtureImage("ntfs-default");
  ASSERT_FALSE(path.empty());
  RecoveryMode mode = RecoveryMode::kAllFiles;
  std::uint64_t free = 0;
  const std::uint64_t reads = ScanReads(path, kFsNtfs, RecoveryMode::kRecycledFiles, &mode, &free);
  EXPECT_EQ(mode, RecoveryMode::kRecycledFiles);
  EXPECT_EQ(reads, free);
  EXPECT_GT(reads, 0u);
}

TEST(FreeSpaceScan, ZeroClusterSizeScansTheWholeVolume) {
  const std::string path = test::FixtureImage("fat32-default");
  ASSERT_FALSE(path.empty());
  PartitionInfo p = VolumeOfImage(path, kFsFat32);
  p.bootSector[13] = 0;
  EXPECT_EQ(EffectiveScanMode(p, RecoveryMode::kDeletedFiles), RecoveryMode::kPartitionFiles);
}

}  // namespace
}  // namespace ambrel
