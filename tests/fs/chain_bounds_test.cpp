// FAT and exFAT chain walks end at a cluster they already hold and after
// the volume's cluster count, and NTFS records with unusable $DATA are
// marked damaged, compressed or encrypted.
#include <gtest/gtest.h>

#include <cstring>

#include "catalog/node_table.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs_test_support.h"

namespace ambrel {
namespace {

PartitionInfo Fat32Volume(std::uint32_t clusters) {
  PartitionInfo p;
  p.fsKind = kFsFat32;
  BootSector& b = p.bootSector;
  b[12] = 2;  // 512 bytes per sector
  b[13] = 1;  // one sector per cluster
  b[14] = 32;
  b[16] = 2;
  const std::uint32_t fs = (clusters + 2) * 4 / 512 + 1;
  std::memcpy(&b[36], &fs, 4);
  const std::uint32_t total = 32 + 2 * fs + clusters;
  std::memcpy(&b[32], &total, 4);
  p.sectorCount = total;
  p.fat.assign(std::size_t(fs) * 512, 0);
  return p;
}

void SetFat32(PartitionInfo& p, std::uint32_t cluster, std::uint32_t value) {
  std::memcpy(&p.fat[cluster * 4], &value, 4);
}

std::uint64_t Covered(const ExtentList& extents) {
  std::uint64_t sectors = 0;
  for (const DataExtent& e : extents) sectors += e.sectorCount;
  return sectors;
}

TEST(ChainBounds, AFatChainEndsAtARepeatedCluster) {
  PartitionInfo p = Fat32Volume(1000);
  // 10 -> 11 -> 12 -> 12 (itself), and 20 -> 21 -> 20 (back).
  SetFat32(p, 10, 11);
  SetFat32(p, 11, 12);
  SetFat32(p, 12, 12);
  SetFat32(p, 20, 21);
  SetFat32(p, 21, 20);
  FoundFileNode node{};
  SetKind(node, kPresentFile);
  node.firstCluster = 10;
  node.size = 0xFFFFFFFF;
  ExtentList extents;
  ASSERT_TRUE(FatFileExtents(p, node, extents));
  EXPECT_EQ(Covered(extents), 3u);
  node.firstCluster = 20;
  ASSERT_TRUE(FatFileExtents(p, node, extents));
  EXPECT_EQ(Covered(extents), 2u);
  // A cleared chain continues cluster by cluster, but never past the volume.
  node.firstCluster = 500;
  ASSERT_TRUE(FatFileExtents(p, node, extents));
  EXPECT_LE(Covered(extents), 1000u);
}

TEST(ChainBounds, AnExfatChainEndsAtARepeatedCluster) {
  PartitionInfo p;
  p.fsKind = kFsExfat;
  BootSector& b = p.bootSector;
  const std::uint32_t fatOffset = 24, fatLength = 8, heap = 64, clusters = 500, root = 4;
  const std::uint64_t volumeSectors = heap + clusters;
  std::memcpy(&b[72], &volumeSectors, 8);
  std::memcpy(&b[80], &fatOffset, 4);
  std::memcpy(&b[84], &fatLength, 4);
  std::memcpy(&b[88], &heap, 4);
  std::memcpy(&b[92], &clusters, 4);
  std::memcpy(&b[96], &root, 4);
  b[108] = 9;
  b[109] = 0;
  p.sectorCount = heap + clusters;
  p.fat.assign(fatLength * 512, 0);
  p.allocationBitmap.assign(clusters / 8 + 1, 0xFF);
  auto set = [&](std::uint32_t c, std::uint32_t v) { std::memcpy(&p.fat[c * 4], &v, 4); };
  set(10, 11);
  set(11, 10);
  FoundFileNode node{};
  SetKind(node, kPresentFile);
  node.firstCluster = 10;
  node.size = 1ull << 40;
  ExtentList extents;
  EXPECT_EQ(ExfatFileExtents(extents, node, p), 1u);
  EXPECT_EQ(Covered(extents), 2u);
}

std::optional<MftRecordSummary> Decode(const test::Record& r) { return DecodeMftRecord(r, false); }

test::RecordBuilder NamedFile() {
  test::RecordBuilder b(40);
  b.StandardInformation(0, 0, 0x20).FileName(5, u"f.txt", 1);
  return b;
}

TEST(NtfsDataMarks, BrokenResidentValuesMarkTheRecordDamaged) {
  const std::vector<std::uint8_t> value(100, 'v');
  {  // sound: not damaged
    auto b = NamedFile();
    b.Resident(0x80, value);
    auto s = Decode(b.Build());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->size, 100u);
    EXPECT_EQ(s->dataMarks, 0u);
  }
  for (int fault = 0; fault < 3; ++fault) {
    auto b = NamedFile();
    const std::size_t at = b.position();
    b.Resident(0x80, value);
    if (fault == 0) b.Put32(at + 0x10, 0x7FFFFFFF);      // length
    if (fault == 1) b.Put16(at + 0x14, 0xFFF0);          // offset
    if (fault == 2) b.Put32(at + 4, 0x1000);             // the attribute passes the record end
    auto s = Decode(b.Build());
    ASSERT_TRUE(s) << fault;
    EXPECT_EQ(s->size, 0u) << fault;
    EXPECT_TRUE(s->dataMarks & kNtfsDataDamaged) << fault;
  }
}

TEST(NtfsDataMarks, CompressedAndEncryptedDataAreMarked) {
  auto b = NamedFile();
  const std::size_t at = b.position();
  b.NonResident(0x80, 0, 70000, {0x21, 0x10, 0x34, 0x12, 0x00});
  b.Put16(at + 0x0C, 0x0001);
  b.Put16(at + 0x22, 4);
  auto s = Decode(b.Build());
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->dataMarks & kNtfsDataCompressed);
  EXPECT_EQ(NtfsUnitShift(s->dataMarks), 4u);
  b.Put16(at + 0x0C, 0x4000);
  s = Decode(b.Build());
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->dataMarks & kNtfsDataEncrypted);
  // An unknown compression format cannot be undone: damaged.
  b.Put16(at + 0x0C, 0x0002);
  s = Decode(b.Build());
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->dataMarks & kNtfsDataDamaged);
}

}  // namespace
}  // namespace ambrel
