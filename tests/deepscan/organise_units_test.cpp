// The pure steps of the organisation: placing an MFT from a run of FILE
// records (with the cluster-size faults mended), grouping loose records,
// the nine-partition rule, the FAT test of a boot-sector candidate, the
// FAT directory layout vote and the range test that retires consumed hits.
#include <gtest/gtest.h>

#include <cstring>

#include "catalog/node_table.h"
#include "deepscan/organise/boot_sector_rebuild.h"
#include "deepscan/organise/consumed_hits.h"
#include "deepscan/organise/fat_directory_trees.h"
#include "deepscan/organise/mft_run_rebuild.h"
#include "deepscan/organise/orphan_records.h"
#include "deepscan/organise/partition_views.h"
#include "deepscan/scan_settings.h"
#include "deepscan_support.h"
#include "organise_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

ScanHit RecordHit(std::uint64_t lba, std::uint32_t number, std::u16string name,
                  std::vector<std::uint8_t> runs = {}, std::uint64_t dataSize = 0) {
  ScanHit h;
  h.kind = kHitFileRecord;
  h.lba = lba;
  FileRecordSummary s;
  s.recordNumber = number;
  s.name = std::move(name);
  s.runs = std::move(runs);
  s.dataSize = dataSize;
  s.flags = kSummaryInUse;
  h.record = RecordSummaryRef::Pack(s);
  return h;
}

std::vector<const ScanHit*> Pointers(const std::vector<ScanHit>& hits) {
  std::vector<const ScanHit*> out;
  for (const ScanHit& h : hits) out.push_back(&h);
  return out;
}

// The first records of an MFT (or of its mirror) at `lba`: $MFT whose data
// starts at cluster `mftLcn`, $MFTMirr at `mirrorLcn` with `mirrorClusters`
// clusters of data `mirrorSize` bytes, then ordinary records.
std::vector<ScanHit> MftStart(std::uint64_t lba, std::uint32_t records, std::uint8_t mftLcn,
                              std::uint8_t mirrorLcn, std::uint8_t mirrorClusters,
                              std::uint64_t mirrorSize) {
  std::vector<ScanHit> hits;
  hits.push_back(RecordHit(lba, 0, u"$MFT", {0x11, 0x40, mftLcn, 0}, 0x40000));
  hits.push_back(RecordHit(lba + 2, 1, u"$MFTMirr", {0x11, mirrorClusters, mirrorLcn, 0}, mirrorSize));
  for (std::uint32_t i = 2; i < records; ++i) hits.push_back(RecordHit(lba + 2 * i, i, u"$LogFile"));
  return hits;
}

TEST(MftRun, FourRecordsOnEightSectorClustersAreTheMirror) {
  // Mirror of 4 records at cluster 0x20 of a volume starting at 1000.
  const std::uint64_t start = 1000;
  std::vector<ScanHit> hits = MftStart(start + 0x20 * 8, 4, 4, 0x20, 1, 4096);
  const auto records = Pointers(hits);
  const auto runs = GroupMftRuns(records);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].startsWithMft);
  EXPECT_EQ(runs[0].records, 4u);
  auto placed = BuildFromMftRun(runs[0], records);
  ASSERT_TRUE(placed);
  EXPECT_TRUE(placed->isMirror);
  EXPECT_EQ(placed->spc, 8u);
  EXPECT_EQ(placed->start, start);
  EXPECT_EQ(placed->mftCluster, 4u);
  EXPECT_EQ(placed->mirrorCluster, 0x20u);
}

TEST(MftRun, ALongerRunIsTheMftItself) {
  std::vector<ScanHit> hits = MftStart(2048 + 4 * 8, 16, 4, 0x20, 1, 4096);
  const auto records = Pointers(hits);
  auto placed = BuildFromMftRun(GroupMftRuns(records)[0], records);
  ASSERT_TRUE(placed);
  EXPECT_FALSE(placed->isMirror);
  EXPECT_EQ(placed->start, 2048u);
  EXPECT_EQ(placed->mftCluster, 4u);
}

TEST(MftRun, LargeClustersComeFromTheMirrorSize) {
  // 64 KiB clusters: the mirror file is one cluster of 65536 bytes.
  std::vector<ScanHit> hits = MftStart(5000 + 2 * 128, 200, 2, 1, 1, 65536);
  const auto records = Pointers(hits);
  auto placed = BuildFromMftRun(GroupMftRuns(records)[0], records);
  ASSERT_TRUE(placed);
  EXPECT_EQ(placed->spc, 128u);
  EXPECT_EQ(placed->start, 5000u);
}

TEST(MftRun, ZeroLengthFirstExtentFailsInsteadOfDividing) {
  std::vector<ScanHit> hits = MftStart(4096, 4, 4, 0x20, 0, 4096);
  const auto records = Pointers(hits);
  EXPECT_FALSE(SpcFromMirrorRecord(*hits[1].record));
  EXPECT_FALSE(BuildFromMftRun(GroupMftRuns(records)[0], records));
}

TEST(MftRun, ClusterSizeMustBeAPowerOfTwoUpTo128) {
  for (std::uint64_t size : {6144ull, 300ull * 512, 512ull * 256}) {
    std::vector<ScanHit> hits = MftStart(1 << 20, 8, 4, 0x20, 1, size);
    EXPECT_FALSE(SpcFromMirrorRecord(*hits[1].record)) << size;
    const auto records = Pointers(hits);
    EXPECT_FALSE(BuildFromMftRun(GroupMftRuns(records)[0], records)) << size;
  }
  // 8 / 3 clusters is 2, a valid size; 8 / 5 is 1.
  std::vector<ScanHit> three = MftStart(1 << 20, 8, 4, 0x20, 3, 4096);
  EXPECT_EQ(SpcFromMirrorRecord(*three[1].record).value_or(0), 2u);
  EXPECT_TRUE(IsValidNtfsSpc(128));
  EXPECT_FALSE(IsValidNtfsSpc(0));
  EXPECT_FALSE(IsValidNtfsSpc(256));
  EXPECT_FALSE(IsValidNtfsSpc(12));
}

TEST(MftRun, RunsWithoutMftOrTooShortOrBelowTheDiskGiveNothing) {
  std::vector<ScanHit> noMft;
  for (std::uint32_t i = 0; i < 8; ++i) noMft.push_back(RecordHit(100 + 2 * i, 40 + i, u"file"));
  const auto a = Pointers(noMft);
  EXPECT_FALSE(BuildFromMftRun(GroupMftRuns(a)[0], a));
  std::vector<ScanHit> shortRun = MftStart(4096, 3, 4, 0x20, 1, 4096);
  const auto b = Pointers(shortRun);
  EXPECT_FALSE(BuildFromMftRun(GroupMftRuns(b)[0], b));
  // The mirror would lie at cluster 0x20 of a volume that starts before LBA 0.
  std::vector<ScanHit> negative = MftStart(100, 4, 4, 0x20, 1, 4096);
  const auto c = Pointers(negative);
  EXPECT_FALSE(BuildFromMftRun(GroupMftRuns(c)[0], c));
}

TEST(MftRun, GapsSplitRuns) {
  std::vector<ScanHit> hits = MftStart(1000, 6, 4, 0x20, 1, 4096);
  hits.push_back(RecordHit(1000 + 2 * 6 + 2, 7, u"after a gap"));
  const auto runs = GroupMftRuns(Pointers(hits));
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].records, 6u);
  EXPECT_EQ(runs[1].first, 6u);
  EXPECT_FALSE(runs[1].startsWithMft);
}

TEST(MftRun, RealVolumeIsPlacedAtItsStart) {
  for (const char* name : {"ntfs-basic", "ntfs-c512", "ntfs-c1024"}) {
    const std::string path = test::FixtureImage(name);
    ASSERT_FALSE(path.empty());
    std::map<std::uint64_t, ScanHit> byLba = test::ClassifyImage(test::ReadImage(path));
    std::vector<const ScanHit*> records;
    for (const auto& [lba, hit] : byLba)
      if (hit.kind == kHitFileRecord) records.push_back(&hit);
    int placed = 0;
    for (const MftRunGroup& run : GroupMftRuns(records)) {
      auto p = BuildFromMftRun(run, records);
      if (!p) continue;
      ++placed;
      EXPECT_EQ(p->start, 0u) << name;
      EXPECT_EQ(p->spc, test::ReadImage(path)[13]) << name;
    }
    EXPECT_GE(placed, 1) << name;  // the MFT, and the mirror when it is a run of its own
  }
}

TEST(OrphanRecords, GroupsFollowTheRecordSpacing) {
  // Two MFTs: records 100..179 at 50000 and records 30..99 at 900000.
  std::vector<ScanHit> hits;
  for (std::uint32_t i = 0; i < 80; ++i) hits.push_back(RecordHit(50000 + 2 * i, 100 + i, u"a"));
  for (std::uint32_t i = 0; i < 70; ++i) hits.push_back(RecordHit(900000 + 2 * i, 30 + i, u"b"));
  const auto groups = GroupOrphanRecords(Pointers(hits));
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].size(), 80u);
  EXPECT_EQ(groups[1].size(), 70u);
  EXPECT_EQ(groups[1].front(), 80u);
}

TEST(OrphanRecords, ThresholdGrowsWithThePartitionsFound) {
  EXPECT_FALSE(GroupLargeEnough(49, 0));
  EXPECT_TRUE(GroupLargeEnough(50, 2));
  EXPECT_FALSE(GroupLargeEnough(59, 3));
  EXPECT_TRUE(GroupLargeEnough(60, 3));
}

TEST(OrphanRecords, DefaultLayoutPutsTheMftAtSector0x600000) {
  auto p = DefaultLayoutPlacement(0x600000 + 2 * 40 + 7000, 40);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->start, 7000u);
  EXPECT_EQ(p->spc, 8u);
  EXPECT_FALSE(DefaultLayoutPlacement(0x5FFFFF, 0));
}

TEST(OrphanRecords, IndexRecordsOfTwoDirectoriesFixStartAndClusterSize) {
  // Volume at 20000 with 4 KiB clusters: directory A indexes at clusters
  // 300 (2 clusters) and 900, B at 1200.
  IndexedDirectory a{{0x21, 0x02, 0x2C, 0x01, 0x11, 0x01, 0x58, 0x00}, {}};  // 300 (+600)
  a.indxLbas = {20000 + 300 * 8, 20000 + 301 * 8, 20000 + 900 * 8};
  IndexedDirectory b{{0x21, 0x01, 0xB0, 0x04, 0x00}, {20000 + 1200 * 8}};
  auto p = PlacementFromIndexRecords({a, b}, 20000 + 4 * 8);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->start, 20000u);
  EXPECT_EQ(p->spc, 8u);
  EXPECT_FALSE(PlacementFromIndexRecords({}, 1000));
}

PartitionInfo WithFiles(std::uint32_t present, std::uint32_t deleted, std::uint32_t system,
                        std::uint32_t scope) {
  PartitionInfo p;
  p.fsKind = kFsNtfs;
  InitTable(p.table);
  p.table.listingScope = scope;
  auto add = [&](const std::string& name, NodeKind kind) {
    FoundFileNode n{};
    n.parentId = kRootId;
    SetKind(n, kind);
    AddNodeNamed(p.table, n, name, true);
  };
  for (std::uint32_t i = 0; i < present; ++i) add("p" + std::to_string(i), kPresentFile);
  for (std::uint32_t i = 0; i < deleted; ++i) add("d" + std::to_string(i), kDeletedFile);
  for (std::uint32_t i = 0; i < system; ++i) add("$sys" + std::to_string(i), kPresentFile);
  return p;
}

std::vector<std::unique_ptr<PartitionInfo>> ListOf(std::size_t n) {
  std::vector<std::unique_ptr<PartitionInfo>> list;
  for (std::size_t i = 0; i < n; ++i) list.push_back(std::make_unique<PartitionInfo>(WithFiles(5, 0, 0, 1)));
  return list;
}

TEST(NinePartitionRule, TwoFilesDropAPartitionOnlyAmongNine) {
  auto nine = ListOf(8);
  nine.push_back(std::make_unique<PartitionInfo>(WithFiles(2, 4, 9, 1)));  // 2 real files, '$' ones ignored
  DropNearlyEmptyPartitions(nine, RecoveryMode::kAllFiles);
  EXPECT_EQ(nine.size(), 8u);
  auto eight = ListOf(7);
  eight.push_back(std::make_unique<PartitionInfo>(WithFiles(2, 0, 0, 1)));
  DropNearlyEmptyPartitions(eight, RecoveryMode::kAllFiles);
  EXPECT_EQ(eight.size(), 8u);
}

TEST(NinePartitionRule, DeletedViewsAreJudgedByTheirDeletedFiles) {
  auto list = ListOf(8);
  list.push_back(std::make_unique<PartitionInfo>(WithFiles(0, 3, 0, 2)));  // a deleted-files view
  list.push_back(std::make_unique<PartitionInfo>(WithFiles(0, 2, 0, 2)));
  DropNearlyEmptyPartitions(list, RecoveryMode::kAllFiles);
  ASSERT_EQ(list.size(), 9u);
  EXPECT_EQ(list.back()->table.listingScope, 2u);
  EXPECT_EQ(QualifyingFiles(*list.back(), RecoveryMode::kAllFiles), 3u);
  // Mode 2 counts deleted files everywhere.
  EXPECT_EQ(QualifyingFiles(WithFiles(7, 1, 0, 0), RecoveryMode::kDeletedFiles), 1u);
}

TEST(BootSectorRebuild, FatSectorsOfRealImagesPass) {
  for (const char* name : {"fat32-basic", "fat16-basic"}) {
    const test::Bytes image = test::ReadImage(test::FixtureImage(name));
    const std::uint16_t reserved = static_cast<std::uint16_t>(image[14] | image[15] << 8);
    const ByteSpan fat(image.data() + std::size_t{reserved} * 512, 512);
    const bool fat32 = image[22] == 0 && image[23] == 0;
    EXPECT_EQ(LooksLikeFat32Sector(fat), fat32) << name;
    EXPECT_EQ(LooksLikeFat16Sector(fat), !fat32) << name;
    EXPECT_FALSE(LooksLikeFat32Sector(ByteSpan(image.data(), 512))) << name;  // the boot sector
  }
}

TEST(BootSectorRebuild, TableEntriesFollowTheClassifierTest) {
  test::Bytes s(512, 0);
  s[510] = 0x55;
  s[511] = 0xAA;
  auto entry = [&](unsigned i, std::uint8_t status, std::uint8_t type, std::uint32_t start,
                   std::uint32_t count) {
    s[446 + 16 * i] = status;
    s[446 + 16 * i + 4] = type;
    test::PutU32(s, 446 + 16 * i + 8, start);
    test::PutU32(s, 446 + 16 * i + 12, count);
  };
  entry(0, 0x80, 7, 2048, 16384);
  entry(1, 0, 0x1D, 2048, 16384);
  entry(2, 0, 0x1C, 2048, 16383);
  entry(3, 1, 0x0C, 2048, 20000);
  EXPECT_TRUE(UsableTableEntry(s, 0));
  EXPECT_FALSE(UsableTableEntry(s, 1));
  EXPECT_FALSE(UsableTableEntry(s, 2));
  EXPECT_FALSE(UsableTableEntry(s, 3));
  test::Bytes exfat(512, 0);
  std::memcpy(exfat.data() + 3, "EXFAT   ", 8);
  EXPECT_EQ(KindOfPartitionType(7, exfat), kFsExfat);
  EXPECT_EQ(KindOfPartitionType(7, s), kFsNtfs);
  EXPECT_EQ(KindOfPartitionType(0x0B, s), kFsFat32);
  EXPECT_EQ(KindOfPartitionType(0x0E, s), kFsFat16);
  EXPECT_EQ(KindOfPartitionType(0x83, s), kFsUnknown);
}

ScanHit DirHit(std::uint64_t lba, std::uint32_t dot) {
  ScanHit h;
  h.kind = kHitFatDirectory;
  h.lba = lba;
  h.aux1 = dot;
  return h;
}

TEST(FatDirectoryLayout, TheVoteFindsClusterSizeAndHeapOfEachOldVolume) {
  // Volume 1: cluster 2 at 10000, 8 sectors; volume 2: cluster 2 at 500000, 1 sector.
  std::vector<ScanHit> hits;
  hits.push_back(DirHit(10000 + 8 * 5, 7));
  hits.push_back(DirHit(10000 + 8 * 40, 42));
  hits.push_back(DirHit(10000 + 8 * 100, 102));
  hits.push_back(DirHit(500000 + 3, 5));
  hits.push_back(DirHit(500000 + 90, 92));
  const auto layouts = VoteFatLayouts(Pointers(hits));
  ASSERT_EQ(layouts.size(), 2u);
  EXPECT_EQ(layouts[0], (FatClusterLayout{8, 10000}));
  EXPECT_EQ(layouts[1], (FatClusterLayout{1, 500000}));
}

TEST(ConsumedHits, RangesRetireRecordsAndDirectoriesOnly) {
  SectorRanges r;
  r.Add(100, 50);
  r.Add(140, 20);  // overlaps: 100..159
  r.Add(1000, 1);
  r.Seal();
  EXPECT_EQ(r.size(), 2u);
  EXPECT_TRUE(r.Contains(100));
  EXPECT_TRUE(r.Contains(159));
  EXPECT_FALSE(r.Contains(160));
  EXPECT_FALSE(r.Contains(99));
  EXPECT_TRUE(r.Contains(1000));
  std::vector<ScanHit> hits(5);
  hits[0].kind = kHitFileRecord; hits[0].lba = 120;
  hits[1].kind = kHitIndxRecord; hits[1].lba = 1000;
  hits[2].kind = kHitNtfsBoot;   hits[2].lba = 130;   // boot sectors stay
  hits[3].kind = kHitFatDirectory; hits[3].lba = 7000;  // a directory the reader read
  hits[4].kind = kHitFileRecord; hits[4].lba = 161;
  std::vector<ScanHit*> ptrs;
  for (ScanHit& h : hits) ptrs.push_back(&h);
  EXPECT_EQ(RetireConsumedHits(ptrs, r, {7000}), 3u);
  EXPECT_EQ(hits[0].kind, kHitDead);
  EXPECT_EQ(hits[1].kind, kHitDead);
  EXPECT_EQ(hits[2].kind, kHitNtfsBoot);
  EXPECT_EQ(hits[3].kind, kHitDead);
  EXPECT_EQ(hits[4].kind, kHitFileRecord);
}

}  // namespace
}  // namespace ambrel
