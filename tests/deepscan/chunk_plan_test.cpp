// Chunk order pieces: the ring's index rule, the priority range, the GiB
// probes, the boot-sector hints, the free-space chunk lists and the
// fall-back of the free-space modes.
#include <gtest/gtest.h>

#include <cstring>

#include "deepscan/chunk_plan.h"
#include "deepscan/chunk_ring.h"
#include "deepscan/free_space.h"
#include "deepscan/scan_settings.h"
#include "deepscan_support.h"

namespace ambrel {
namespace {

TEST(ChunkRing, KeepsOrderAndRefusesANinthSlot) {
  ChunkRing ring;
  std::vector<std::uint8_t> slot(kRingSlotBytes, 0);
  for (std::uint64_t i = 0; i < 8; ++i) {
    StoreSlotLba(slot.data(), i * kChunkSectors);
    ASSERT_TRUE(ring.Put(slot.data()));
  }
  EXPECT_FALSE(ring.Put(slot.data()));
  std::vector<std::uint8_t> out(kRingSlotBytes);
  for (std::uint64_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(ring.Take(out.data(), out.size()));
    EXPECT_EQ(SlotLba(out.data()), i * kChunkSectors);
  }
  StoreSlotLba(slot.data(), 0x1'0000'0000ull);
  ASSERT_TRUE(ring.Put(slot.data()));
  for (std::uint64_t i = 3; i < 8; ++i) {
    ASSERT_TRUE(ring.Take(out.data(), out.size()));
    EXPECT_EQ(SlotLba(out.data()), i * kChunkSectors);
  }
  ASSERT_TRUE(ring.Take(out.data(), out.size()));
  EXPECT_EQ(SlotLba(out.data()), 0x1'0000'0000ull);
  EXPECT_FALSE(ring.Take(out.data(), out.size()));
}

// In place: the slot being analysed is never handed out to be refilled, so
// while one is read at most seven more can be queued.
TEST(ChunkRing, TheSlotBeingReadIsNotRefilled) {
  ChunkRing ring;
  std::vector<const std::uint8_t*> filled;
  for (std::uint64_t i = 0; i < 8; ++i) {
    std::uint8_t* slot = ring.AcquireWrite();
    ASSERT_NE(slot, nullptr);
    StoreSlotLba(slot, i * kChunkSectors);
    ring.CommitWrite();
    filled.push_back(slot);
  }
  EXPECT_EQ(ring.AcquireWrite(), nullptr);
  const std::uint8_t* reading = ring.AcquireRead();
  ASSERT_EQ(reading, filled[0]);
  EXPECT_EQ(ring.AcquireRead(), nullptr) << "one slot at a time";
  EXPECT_EQ(ring.Count(), 7u);
  EXPECT_EQ(ring.AcquireWrite(), nullptr) << "the slot being read is still in use";
  ring.ReleaseRead();
  std::uint8_t* again = ring.AcquireWrite();
  EXPECT_EQ(again, filled[0]);
  StoreSlotLba(again, 99 * kChunkSectors);
  ring.CommitWrite();
  for (std::uint64_t i = 1; i < 8; ++i) {
    const std::uint8_t* slot = ring.AcquireRead();
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(SlotLba(slot), i * kChunkSectors);
    ring.ReleaseRead();
  }
  const std::uint8_t* last = ring.AcquireRead();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(SlotLba(last), 99u * kChunkSectors);
  ring.ReleaseRead();
  EXPECT_EQ(ring.Count(), 0u);
}

TEST(ChunkPlan, PriorityRangeBothEndsInclusive) {
  EXPECT_TRUE(PriorityRangeChunks(5000, 0).empty());
  auto chunks = PriorityRangeChunks(16384 + 5, 16384 - 5);  // ends exactly on a boundary
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0], 16384u);
  EXPECT_EQ(chunks[1], 32768u);
}

TEST(ChunkPlan, RangeAndChunkCount) {
  ScanRange r = RangeOf(20000, 40000);
  EXPECT_EQ(r.first, 16384u);
  EXPECT_EQ(r.last, 49152u);
  // An area that ends on a chunk boundary does not take the chunk after it.
  EXPECT_EQ(RangeOf(0, 8 * 16384).last, 7u * 16384);
  EXPECT_EQ(RangeOf(16384, 1).last, 16384u);
  EXPECT_EQ(ChunkCountOf(16385), 2u);
  EXPECT_EQ(ChunkCountOf(16384), 1u);
}

TEST(ChunkPlan, GibProbesOnlyAboveFourGib) {
  EXPECT_TRUE(GibProbeChunks(0, 0x800000).empty());
  auto probes = GibProbeChunks(0, 0x800001);
  ASSERT_EQ(probes.size(), 5u);
  EXPECT_EQ(probes[4], 0x800000u);
}

TEST(ChunkPlan, BootSectorHintsIncludeBackupAndPrimary) {
  ScanHit hit;
  hit.kind = kHitNtfsBoot;
  hit.lba = 100000 + 50000;  // a backup at the end of a 50000-sector volume
  test::Bytes boot = test::MakeNtfsBoot(50000);
  hit.sector = std::make_unique<SectorCopy>();
  std::memcpy(hit.sector->data(), boot.data(), 512);
  auto hints = BootSectorHints(hit);
  EXPECT_NE(std::find(hints.begin(), hints.end(), 100000u), hints.end());
  EXPECT_NE(std::find(hints.begin(), hints.end(), 150000u - 16384), hints.end());
  EXPECT_NE(std::find(hints.begin(), hints.end(), 200000u), hints.end());
}

TEST(FreeSpace, NtfsChunksWithAClearBit) {
  FreeSpaceMap map;
  // 8 sectors per cluster, 4 chunks of clusters: only the third has a free one.
  std::vector<std::uint8_t> bitmap(4 * 2048 / 8, 0xFF);
  bitmap[2 * 256 + 10] = 0xFE;
  map.SetNtfs(0, 8, 4 * 2048, bitmap);
  auto chunks = map.FreeChunks(0, 4 * 16384);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0], 2u * 16384);
  EXPECT_TRUE(map.IsFreeSector(2 * 16384 + 80 * 8));
  EXPECT_FALSE(map.IsFreeSector(0));
}

TEST(FreeSpace, FatChunksOutsideTheDataAreaAlwaysQualify) {
  FreeSpaceMap map;
  // Data area from 16384 + 100, 1 sector per cluster, 3 chunks of clusters.
  const std::uint64_t clusters = 3 * 16384;
  std::vector<std::uint8_t> fat((clusters + 2) * 4, 0xFF);
  map.SetFat(16384 + 100, 1, clusters, 32, fat);
  auto chunks = map.FreeChunks(0, 16384 + 100 + clusters);
  // Chunk 0 (before the data), chunk 1 (holds the data start) and chunk 4
  // (reaches the data end); 2 and 3 are full, 5 lies past the partition.
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[1], 16384u);
  EXPECT_EQ(chunks[2], 4u * 16384);
}

TEST(ScanSettings, FreeSpaceModesFallBackWithoutGeometry) {
  PartitionInfo p;
  p.fsKind = kFsFat16;
  p.bootSector[13] = 0;
  EXPECT_EQ(EffectiveScanMode(p, RecoveryMode::kDeletedFiles), RecoveryMode::kPartitionFiles);
  p.bootSector[13] = 4;
  EXPECT_EQ(EffectiveScanMode(p, RecoveryMode::kDeletedFiles), RecoveryMode::kDeletedFiles);
  p.fsKind = kFsUnknown;
  EXPECT_EQ(EffectiveScanMode(p, RecoveryMode::kRecycledFiles), RecoveryMode::kPartitionFiles);
  EXPECT_EQ(EffectiveScanMode(p, RecoveryMode::kAllFiles), RecoveryMode::kAllFiles);
}

TEST(ScanSettings, DefaultsAndLargeWholeDisk) {
  PartitionInfo p;
  p.sectorCount = p.diskSectorCount = 0x9600001;
  EXPECT_TRUE(IsLargeWholeDisk(p));
  p.removable = 1;
  EXPECT_FALSE(IsLargeWholeDisk(p));
  DeepScanSettings s = DefaultScanSettings(p, RecoveryMode::kDeletedFiles);
  EXPECT_EQ(s.Option(kOptClusterAligned), 1);
  EXPECT_EQ(s.Option(33), 2);
  EXPECT_EQ(s.Option(kOptLiveResults), 1);
  s.priorityStart = 10;
  s.priorityLength = 5;
  PartitionInfo q;
  q.startLba = 1000;
  q.sectorCount = 100;
  DeepScanSettings next = NextScanSettings(s, q);
  EXPECT_EQ(next.priorityStart, 1000u);
  EXPECT_EQ(next.priorityLength, 0u);
}

}  // namespace
}  // namespace ambrel
