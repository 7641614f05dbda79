// Edge cases of exFAT entry sets, sector checks, directory limits, extents
// and the rebuild from directory sectors.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "catalog/node_table.h"
#include "platform/block_device.h"
#include "fs/exfat/exfat_entries.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(std::uint8_t* p, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes FileEntry(std::uint8_t type, std::uint8_t secondaries, bool directory = false) {
  Bytes e(32, 0);
  e[0] = type;
  e[1] = secondaries;
  Put(&e[4], directory ? 0x10 : 0x20, 2);
  Put(&e[8], 0x5A215000u, 4);
  Put(&e[12], 0x5A215000u, 4);
  return e;
}
Bytes StreamEntry(std::uint8_t type, std::uint32_t cluster, std::uint64_t size) {
  Bytes e(32, 0);
  e[0] = type;
  Put(&e[8], size, 8);
  Put(&e[20], cluster, 4);
  Put(&e[24], size, 8);
  return e;
}
Bytes NameEntry(std::uint8_t type, const std::string& part) {
  Bytes e(32, 0);
  e[0] = type;
  for (std::size_t k = 0; k < part.size() && k < 15; ++k) e[2 + 2 * k] = static_cast<std::uint8_t>(part[k]);
  return e;
}
// A live (or deleted) set for an ASCII name.
Bytes Set(const std::string& name, std::uint32_t cluster, std::uint64_t size, bool directory = false,
          bool deleted = false) {
  std::size_t names = (name.size() + 14) / 15;
  Bytes out = FileEntry(deleted ? 0x05 : 0x85, static_cast<std::uint8_t>(names + 1), directory);
  Bytes s = StreamEntry(deleted ? 0x40 : 0xC0, cluster, size);
  out.insert(out.end(), s.begin(), s.end());
  for (std::size_t k = 0; k < names; ++k) {
    Bytes n = NameEntry(deleted ? 0x41 : 0xC1, name.substr(k * 15, 15));
    out.insert(out.end(), n.begin(), n.end());
  }
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(ExfatEntries, DeletedSetWithTwoNameEntries) {
  Bytes dir = Cat({FileEntry(0x05, 3), StreamEntry(0x40, 9, 1234), NameEntry(0x41, "deleted file na"),
                   NameEntry(0x41, "me.txt")});
  auto sets = DecodeExfatEntries(dir);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_TRUE(sets[0].deleted);
  EXPECT_EQ(sets[0].name, "deleted file name.txt");
  EXPECT_EQ(sets[0].size, 1234u);
  EXPECT_EQ(sets[0].firstCluster, 9u);
  EXPECT_NE(sets[0].created, 0u);
}

TEST(ExfatEntries, NamesStopAt259CharactersAndLyingCountsDropTheSet) {
  std::string longName(270, 'n');
  auto sets = DecodeExfatEntries(Set(longName, 5, 1));
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].name.size(), 259u);
  // A set claiming 5 secondaries but holding 2 is replaced by the next set.
  Bytes dir = Cat({FileEntry(0x85, 5), StreamEntry(0xC0, 3, 1), NameEntry(0xC1, "liar"), Set("honest", 4, 2)});
  sets = DecodeExfatEntries(dir);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].name, "honest");
  // Live secondaries do not complete a deleted set; live and deleted sets interleave.
  dir = Cat({FileEntry(0x05, 2), StreamEntry(0xC0, 3, 1), NameEntry(0xC1, "mixed"), Set("live", 6, 1),
             Set("gone", 7, 1, false, true)});
  sets = DecodeExfatEntries(dir);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].name, "live");
  EXPECT_EQ(sets[1].name, "gone");
  EXPECT_TRUE(sets[1].deleted);
}

// NameLength of the stream entry bounds the name: a NUL inside it is part of
// the name (kept visible as U+2400), the zeros after it are padding.
TEST(ExfatEntries, NameLengthBoundsTheNameAndKeepsAnInnerNul) {
  Bytes stream = StreamEntry(0xC0, 3, 1);
  stream[3] = 7;
  Bytes dir = Cat({FileEntry(0x85, 2), stream, NameEntry(0xC1, std::string("ab\0cd.xyz", 9))});
  auto sets = DecodeExfatEntries(dir);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].name, "ab\u2400cd.x");
  // A NameLength beyond the name entries falls back to the first NUL.
  stream[3] = 40;
  dir = Cat({FileEntry(0x85, 2), stream, NameEntry(0xC1, "short")});
  sets = DecodeExfatEntries(dir);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].name, "short");
}

TEST(ExfatEntries, SectorChecks) {
  Bytes sector(512, 0);
  Bytes good = Set("file.txt", 5, 10);
  std::memcpy(sector.data(), good.data(), good.size());
  EXPECT_TRUE(CheckExfatEntrySets(sector, 0));
  sector[32] = 0xC1;  // a name entry straight after the file entry
  EXPECT_FALSE(CheckExfatEntrySets(sector, 0));
  Bytes bitmap(512, 0);
  bitmap[0] = 0x81;
  EXPECT_FALSE(CheckExfatEntrySets(bitmap, 0));
  // The real root directory of the fixture.
  std::string image = test::FixtureImage("exfat-basic");
  ASSERT_FALSE(image.empty());
  PartitionInfo p = test::ImagePartition(image, kFsExfat);
  auto g = ExfatGeometryOf(p);
  ASSERT_TRUE(g);
  std::ifstream in(image, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(g->ClusterLba(g->rootCluster) * 512));
  Bytes root(512);
  in.read(reinterpret_cast<char*>(root.data()), 512);
  EXPECT_TRUE(IsExfatRootDirectory(root));
  root[1] = 16;  // label longer than 15 characters
  EXPECT_FALSE(IsExfatRootDirectory(root));
}

// A small exFAT volume in memory: 4 KiB clusters, FAT at sector 24, heap at 32.
struct SyntheticVolume {
  static constexpr std::uint32_t kClusters = 512;
  Bytes bytes = Bytes((32 + kClusters * 8) * 512, 0);
  PartitionInfo partition;
  SyntheticVolume() {
    std::uint8_t* b = bytes.data();
    b[0] = 0xEB;
    std::memcpy(b + 3, "EXFAT   ", 8);
    Put(b + 72, bytes.size() / 512, 8);
    Put(b + 80, 24, 4);
    Put(b + 84, 8, 4);
    Put(b + 88, 32, 4);
    Put(b + 92, kClusters, 4);
    Put(b + 96, 2, 4);
    b[108] = 9;
    b[109] = 3;
    b[510] = 0x55;
    b[511] = 0xAA;
    Put(b + 24 * 512, 0xFFFFFFF8u, 4);
    Put(b + 24 * 512 + 4, 0xFFFFFFFFu, 4);
    partition.fsKind = kFsExfat;
    partition.sectorCount = bytes.size() / 512;
    std::memcpy(partition.bootSector.data(), b, 512);
  }
  std::uint8_t* Cluster(std::uint32_t c) { return bytes.data() + (32 + (c - 2) * 8) * 512; }
  void Chain(std::uint32_t first, std::uint32_t count) {
    for (std::uint32_t c = first; c < first + count; ++c)
      Put(bytes.data() + 24 * 512 + c * 4, c + 1 == first + count ? 0xFFFFFFFFu : c + 1, 4);
  }
  void Write(std::uint32_t cluster, const Bytes& entries) {
    std::memcpy(Cluster(cluster), entries.data(), entries.size());
  }
  bool Read() {
    handle = HandleForDevice(std::make_shared<test::VectorDevice>(bytes), "memory");
    return ReadExfatVolume(nullptr, partition, handle);
  }
  DiskHandle handle;
};

// A root of 20 clusters (80 KiB, past 64 KiB) is read to the end of its
// chain; a chain that comes back to its start ends there.
TEST(ExfatWalk, RootIsReadToTheEndOfItsChain) {
  SyntheticVolume v;
  Bytes root;
  std::uint32_t sets = 0;
  for (; root.size() < 20 * 4096 - 96; ++sets) {
    Bytes s = Set("f" + std::to_string(1000 + sets), 0, 0);
    root.insert(root.end(), s.begin(), s.end());
  }
  v.Chain(2, 20);
  std::memcpy(v.Cluster(2), root.data(), root.size());
  ASSERT_TRUE(v.Read());
  EXPECT_EQ(CountLive(v.partition.table), 2u + sets);

  SyntheticVolume looped;
  looped.Chain(2, 20);
  Put(looped.bytes.data() + 24 * 512 + 21 * 4, 2, 4);  // the last cluster points back at the first
  std::memcpy(looped.Cluster(2), root.data(), root.size());
  ASSERT_TRUE(looped.Read());
  EXPECT_EQ(CountLive(looped.partition.table), 2u + sets);
}

TEST(ExfatWalk, FoldersPointingBackAreEnteredOnce) {
  SyntheticVolume v;
  v.Chain(2, 1);
  v.Chain(10, 1);
  v.Write(2, Cat({Set("self", 2, 4096, true), Set("sub", 10, 4096, true)}));
  v.Write(10, Cat({Set("back to root", 2, 4096, true), Set("again", 10, 4096, true), Set("leaf.txt", 20, 5)}));
  ASSERT_TRUE(v.Read());
  auto paths = test::NodePaths(v.partition.table);
  EXPECT_EQ(paths.size(), 6u);  // with the lost-files folder
  EXPECT_TRUE(paths.count("sub/leaf.txt"));
  EXPECT_TRUE(paths.count("sub/back to root"));
}

TEST(ExfatWalk, LiveFolderKeepsItsEntriesOverAnEarlierDeletedSet) {
  SyntheticVolume v;
  v.Chain(2, 1);
  v.Chain(10, 1);
  v.Write(2, Cat({Set("old name", 10, 4096, true, true), Set("live", 10, 4096, true)}));
  v.Write(10, Set("inside.txt", 20, 5));
  ASSERT_TRUE(v.Read());
  auto paths = test::NodePaths(v.partition.table);
  EXPECT_TRUE(paths.count("live/inside.txt"));
  EXPECT_TRUE(paths.count("old name"));
  EXPECT_FALSE(paths.count("old name/inside.txt"));
}

TEST(ExfatExtents, LiveFilesFollowTheirChainDeletedFilesReadContiguous) {
  SyntheticVolume v;
  v.partition.fat.assign(4096, 0);
  auto fat = [&](std::uint32_t c, std::uint32_t next) { Put(&v.partition.fat[c * 4], next, 4); };
  fat(20, 40);
  fat(40, 60);
  fat(60, 0xFFFFFFFF);
  v.partition.allocationBitmap.assign(64, 0);
  auto setBit = [&](std::uint32_t c) { v.partition.allocationBitmap[(c - 2) / 8] |= 1 << ((c - 2) % 8); };
  FoundFileNode node{};
  SetKind(node, kDeletedFile);
  node.firstCluster = 20;
  node.size = 3 * 4096;
  ExtentList extents;
  // A deleted file: its chain was freed, its clusters are read as three in
  // a row, even where a stale chain is left in the FAT and those clusters
  // are allocated again (to another file).
  ASSERT_EQ(ExfatFileExtents(extents, node, v.partition), 1u);
  EXPECT_EQ(extents[0].sectorCount, 24u);
  setBit(20);
  setBit(40);
  setBit(60);
  ASSERT_EQ(ExfatFileExtents(extents, node, v.partition), 1u);
  // A live file follows its FAT chain.
  SetKind(node, kPresentFile);
  ASSERT_EQ(ExfatFileExtents(extents, node, v.partition), 3u);
  auto g = *ExfatGeometryOf(v.partition);
  EXPECT_EQ(extents[1].startSector, g.ClusterLba(40));
  // Stored without a FAT chain (the NoFatChain flag): contiguous, whatever
  // the FAT holds.
  SetExfatStreamFacts(node, true, node.size);
  ASSERT_EQ(ExfatFileExtents(extents, node, v.partition), 1u);
  EXPECT_EQ(extents[0].sectorCount, 24u);
  // A live chain that ends before the size is covered stops there.
  SetExfatStreamFacts(node, false, node.size);
  fat(40, 0xFFFFFFFF);
  EXPECT_EQ(ExfatChainExtents(extents, node, v.partition), ChainEnd::kEndsEarly);
  EXPECT_EQ(extents.size(), 2u);
}

TEST(ExfatExtents, FileOver4GiBIsCoveredWhole) {
  PartitionInfo p;
  p.fsKind = kFsExfat;
  BootSector& b = p.bootSector;
  Put(&b[88], 2048, 4);
  Put(&b[92], 4u << 20, 4);  // 4 Mi clusters of 4 KiB: 16 GiB
  b[108] = 9;
  b[109] = 3;
  p.sectorCount = 2048 + (std::uint64_t(4) << 20) * 8;
  FoundFileNode node{};
  node.firstCluster = 1000;
  node.size = (std::uint64_t(5) << 30) + 17;
  ExtentList extents;
  ASSERT_EQ(ExfatFileExtents(extents, node, p), 1u);
  EXPECT_EQ(extents[0].sectorCount * 512, ((node.size + 4095) / 4096) * 4096);
  auto sets = DecodeExfatEntries(Set("big.iso", 1000, node.size));
  EXPECT_EQ(sets.at(0).size, std::uint64_t{node.size});
}

TEST(ExfatExtents, FileOver4GiBListedFromItsDirectory) {
  // A volume of 2 Mi clusters of which only the first few are backed by
  // bytes: the listing reads only directory clusters.
  SyntheticVolume v;
  const std::uint32_t clusters = 2u << 20;
  Put(v.bytes.data() + 92, clusters, 4);
  Put(v.partition.bootSector.data() + 92, clusters, 4);
  v.partition.sectorCount = 32 + std::uint64_t(clusters) * 8;
  const std::uint64_t size = (std::uint64_t(6) << 30) + 1;
  v.Chain(2, 1);
  v.Write(2, Cat({Set("disk image.iso", 100, size), Set("small.txt", 90, 10)}));
  ASSERT_TRUE(v.Read());
  auto paths = test::NodePaths(v.partition.table);
  ASSERT_TRUE(paths.count("disk image.iso"));
  const FoundFileNode* big = NodeAt(v.partition.table, paths["disk image.iso"]);
  EXPECT_EQ(std::uint64_t{big->size}, size);
  ExtentList extents;
  ASSERT_EQ(ExfatFileExtents(extents, *big, v.partition), 1u);
  EXPECT_EQ(extents[0].sectorCount, (size + 4095) / 4096 * 8);
}

TEST(ExfatRebuild, VolumeWithoutBootSectorFromItsDirectorySectors) {
  test::EnableParsing();
  std::string image = test::FixtureImage("exfat-basic");
  ASSERT_FALSE(image.empty());
  std::ifstream in(image, std::ios::binary | std::ios::ate);
  Bytes bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  PartitionInfo original = test::ImagePartition(image, kFsExfat);
  std::uint64_t heap = ExfatGeometryOf(original)->ClusterLba(2);
  std::fill(bytes.begin(), bytes.begin() + 24 * 512, 0);  // boot region gone
  // The hits a sector classifier makes on this image.
  std::vector<std::uint64_t> hits;
  for (std::uint64_t lba = 0; lba < bytes.size() / 512; ++lba) {
    std::span<const std::uint8_t> s(bytes.data() + lba * 512, 512);
    if (IsExfatRootDirectory(s) || CheckExfatEntrySets(s, 0)) hits.push_back(lba);
  }
  ASSERT_GT(hits.size(), 20u);
  DiskHandle handle = HandleForDevice(std::make_shared<test::VectorDevice>(bytes), "memory");
  std::vector<PartitionInfo> partitions;
  ASSERT_TRUE(RebuildExfatFromScan(nullptr, nullptr, handle, "ExfatDir", hits, partitions));
  ASSERT_EQ(partitions.size(), 1u);
  PartitionInfo& rebuilt = partitions[0];
  EXPECT_EQ(rebuilt.fsKind, kFsExfatDirScan);
  EXPECT_EQ(ExfatGeometryOf(rebuilt)->ClusterLba(2), heap);
  auto paths = test::NodePaths(rebuilt.table);
  int leaves = 0;
  for (const auto& m : test::LoadManifest("exfat-basic")) {
    if (m.path.rfind("tree/sub ", 0) != 0 || m.directory) continue;
    auto it = paths.find(m.path);
    ASSERT_NE(it, paths.end()) << m.path;
    ExtentList extents;
    ASSERT_GT(ExfatFileExtents(extents, *NodeAt(rebuilt.table, it->second), rebuilt), 0u);
    EXPECT_EQ(test::Md5OfExtents(handle, extents, m.size), m.md5) << m.path;
    ++leaves;
  }
  EXPECT_EQ(leaves, 24);
  // A volume already known at that heap is not built again.
  std::vector<PartitionInfo> known;
  known.push_back(test::ImagePartition(image, kFsExfat));
  EXPECT_FALSE(RebuildExfatFromScan(nullptr, nullptr, handle, "ExfatDir", hits, known));
}

TEST(ExfatRebuild, ClusterSizeNeedsTwentyRuns) {
  std::vector<std::uint64_t> starts;
  for (std::uint64_t i = 0; i < 19; ++i) starts.push_back(1000 + i * 64);
  EXPECT_EQ(EstimateExfatClusterSize(starts), 0u);
  starts.push_back(1000 + 19 * 64 + 8);
  EXPECT_EQ(EstimateExfatClusterSize(starts), 64u) << "19 of 20 gaps are whole multiples of 64";
  starts.clear();
  std::uint64_t lba = 5000;
  for (std::uint64_t k = 1; k <= 24; ++k) starts.push_back(lba += 8 * k);
  EXPECT_EQ(EstimateExfatClusterSize(starts), 8u);
}

}  // namespace
}  // namespace ambrel
