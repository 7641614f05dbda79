// The allocation map and the owner map over hand-made FAT32 tables: which
// clusters of a deleted file are in use again, which live chain runs into
// another's clusters, and where a contiguous run meets another entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "catalog/node_table.h"
#include "fs/cluster_map.h"
#include "fs/fat/fat_reader.h"

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
  InitTable(p.table);
  return p;
}

void Chain(PartitionInfo& p, std::initializer_list<std::uint32_t> clusters) {
  const std::uint32_t* c = clusters.begin();
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    const std::uint32_t next = i + 1 < clusters.size() ? c[i + 1] : 0x0FFFFFFF;
    std::memcpy(&p.fat[c[i] * 4], &next, 4);
  }
}

std::uint32_t AddFile(PartitionInfo& p, const char* name, std::uint32_t first, std::uint64_t size, NodeKind kind) {
  FoundFileNode n{};
  n.parentId = kRootId;
  n.firstCluster = first;
  n.size = size;
  SetKind(n, kind);
  n.name = CopyNodeName(name);
  return AddNode(p.table, n, false);
}

TEST(ClusterUse, CountsTheClustersOfADeletedFileInUseAgain) {
  PartitionInfo p = Fat32Volume(200);
  Chain(p, {12, 13});  // a new file over clusters 12 and 13
  const std::uint32_t id = AddFile(p, "GONE.BIN", 10, 5 * 512, kDeletedFile);
  ExtentList extents;
  ASSERT_EQ(FatChainExtents(p, *NodeAt(p.table, id), extents), ChainEnd::kCovered);
  auto use = ClusterUse::Of(p);
  ASSERT_TRUE(use.has_value());
  const ClusterTally t = use->Count(extents, 5 * 512);
  EXPECT_EQ(t.clusters, 5u);
  EXPECT_EQ(t.taken, 2u);
  EXPECT_EQ(t.firstTakenByte, 2u * 512);
  // Only the bytes of the size count: the first two clusters are free.
  EXPECT_EQ(use->Count(extents, 2 * 512).taken, 0u);
  // Without a FAT nothing is called in use.
  p.fat.clear();
  EXPECT_FALSE(ClusterUse::Of(p).has_value());
}

TEST(ClusterOwners, ALiveChainRunningIntoAnotherIsCutAtTheFirstForeignCluster) {
  PartitionInfo p = Fat32Volume(200);
  // B: 20..23, whole; A: 10 -> 11 -> 22 -> 23 (B's tail) and claims 6 clusters.
  Chain(p, {20, 21, 22, 23});
  const std::uint32_t a10 = 11, a11 = 22;
  std::memcpy(&p.fat[10 * 4], &a10, 4);
  std::memcpy(&p.fat[11 * 4], &a11, 4);
  const std::uint32_t a = AddFile(p, "A.DAT", 10, 6 * 512, kPresentFile);
  AddFile(p, "B.DAT", 20, 4 * 512, kPresentFile);
  AddFile(p, "OLD.DAT", 30, 512, kDeletedFile);
  LinkAll(p.table);
  BuildClusterOwners(p);
  ASSERT_NE(p.clusterOwners, nullptr);
  ExtentList extents;
  EXPECT_EQ(FatChainExtents(p, *NodeAt(p.table, a), extents), ChainEnd::kEndsEarly);
  std::uint64_t at = 0;
  const ClusterOwners::Owner* owner = nullptr;
  // A's own clusters hold nothing foreign; 22 belongs to B.
  EXPECT_FALSE(p.clusterOwners->FirstForeign(10, 2, 10, "A.DAT", at, owner));
  ASSERT_TRUE(p.clusterOwners->FirstForeign(22, 2, 10, "A.DAT", at, owner));
  EXPECT_EQ(at, 22u);
  EXPECT_EQ(OwnerPath(p, *owner), "B.DAT");
  // B is not foreign to itself; A, whose chain does not cover its size,
  // owns nothing.
  EXPECT_FALSE(p.clusterOwners->FirstForeign(20, 4, 20, "B.DAT", at, owner));
  EXPECT_FALSE(p.clusterOwners->FirstForeign(10, 1, 20, "B.DAT", at, owner));
  // Entry starts, live and deleted: a deleted run from 25 meets OLD.DAT at 30.
  EXPECT_EQ(p.clusterOwners->StartBetween(25, 40), 30u);
  EXPECT_EQ(p.clusterOwners->StartBetween(30, 40), 0u);
}

// Live files whose runs overlap (a damaged volume): the shared clusters keep
// both owners, so each file finds the other there; a file's runs that
// follow each other make one range.
TEST(ClusterOwners, OverlappingRunsKeepBothOwners) {
  ClusterOwners map;
  const std::uint32_t a = map.AddOwner({10, ClusterOwners::NameHash("A"), 21});
  const std::uint32_t b = map.AddOwner({15, ClusterOwners::NameHash("B"), 22});
  const std::uint32_t c = map.AddOwner({30, ClusterOwners::NameHash("C"), 23});
  map.Add(15, 10, b);  // 15..24
  map.Add(10, 10, a);  // 10..19
  map.Add(30, 2, c);
  map.Add(32, 3, c);   // 30..34
  map.Finish();
  EXPECT_EQ(map.RunCount(), 4u);  // A, A+B, B, C
  std::uint64_t at = 0;
  const ClusterOwners::Owner* owner = nullptr;
  ASSERT_TRUE(map.FirstForeign(10, 10, 10, "A", at, owner));
  EXPECT_EQ(at, 15u);
  EXPECT_EQ(owner->nodeId, 22u);
  ASSERT_TRUE(map.FirstForeign(15, 10, 15, "B", at, owner));
  EXPECT_EQ(at, 15u);
  EXPECT_EQ(owner->nodeId, 21u);
  EXPECT_FALSE(map.FirstForeign(20, 5, 15, "B", at, owner));
  EXPECT_FALSE(map.FirstOwned(25, 5, at, owner));
  ASSERT_TRUE(map.FirstOwned(26, 10, at, owner));
  EXPECT_EQ(at, 30u);
  EXPECT_EQ(owner->nodeId, 23u);
  // Held by an owner or called in use by the allocation map (cluster 27).
  std::uint64_t first = 0;
  EXPECT_EQ(map.CountTaken(8, 30, [](std::uint64_t cl) { return cl == 27; }, first), 21u);
  EXPECT_EQ(first, 10u);
  EXPECT_EQ(map.CountTaken(25, 5, [](std::uint64_t) { return false; }, first), 0u);
  EXPECT_EQ(first, UINT64_MAX);
}

// Many runs of many owners, sparse and dense, some overlapping, over a wide
// cluster space: every search must give what a plain walk over the runs
// gives (the map indexes its ranges for speed).
TEST(ClusterOwners, SearchesAgreeWithAWalkOverEveryRun) {
  std::mt19937_64 random(11);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    const std::uint64_t space = round % 2 ? 5'000'000'000ull : 200'000ull;
    struct Held {
      std::uint64_t first, count;
      std::uint32_t owner;
    };
    std::vector<Held> held;
    ClusterOwners map;
    const int owners = 200 + round * 300;
    for (int o = 0; o < owners; ++o) {
      const std::uint32_t id = map.AddOwner({static_cast<std::uint64_t>(o) * 7 + 1, ClusterOwners::NameHash(std::to_string(o).c_str()),
                                             static_cast<std::uint32_t>(o)});
      const int runs = 1 + static_cast<int>(random() % 4);
      for (int r = 0; r < runs; ++r) {
        const std::uint64_t first = random() % space;
        const std::uint64_t count = 1 + random() % (round < 2 ? 3 : 400);
        map.Add(first, count, id);
        held.push_back({first, count, id});
      }
    }
    map.Finish();
    auto ownersOf = [&](std::uint64_t c) {
      std::vector<std::uint32_t> out;
      for (const Held& h : held)
        if (c >= h.first && c < h.first + h.count) out.push_back(h.owner);
      return out;
    };
    for (int probe = 0; probe < 400; ++probe) {
      const std::uint64_t first = random() % (space + 1000);
      const std::uint64_t count = 1 + random() % 600;
      // FirstOwned: the lowest cluster of the range that anyone holds.
      std::uint64_t expect = UINT64_MAX;
      for (const Held& h : held) {
        const std::uint64_t from = std::max(first, h.first);
        if (from < std::min(first + count, h.first + h.count)) expect = std::min(expect, from);
      }
      std::uint64_t at = 0;
      const ClusterOwners::Owner* owner = nullptr;
      ASSERT_EQ(map.FirstOwned(first, count, at, owner), expect != UINT64_MAX) << first << "+" << count;
      if (expect == UINT64_MAX) continue;
      EXPECT_EQ(at, expect);
      const auto there = ownersOf(at);
      EXPECT_NE(std::find(there.begin(), there.end(), owner->nodeId), there.end());
      // FirstForeign for one of the owners there, where no other holds it:
      // nothing foreign when every cluster held in the range is its own.
      const std::uint32_t self = there.front();
      std::uint64_t foreign = UINT64_MAX;
      for (std::uint64_t c = first; c < first + count && foreign == UINT64_MAX; ++c)
        for (std::uint32_t o : ownersOf(c))
          if (o != self) foreign = c;
      const bool found = map.FirstForeign(first, count, std::uint64_t{self} * 7 + 1,
                                          std::to_string(self).c_str(), at, owner);
      // Where three or more overlap the map keeps two of them, so only
      // the place is compared.
      EXPECT_EQ(found, foreign != UINT64_MAX) << first << "+" << count;
      if (found && foreign != UINT64_MAX) {
        EXPECT_EQ(at, foreign);
      }
      std::uint64_t firstTaken = 0;
      std::uint64_t taken = 0;
      for (std::uint64_t c = first; c < first + count; ++c) taken += ownersOf(c).empty() ? 0 : 1;
      EXPECT_EQ(map.CountTaken(first, count, [](std::uint64_t) { return false; }, firstTaken), taken);
    }
  }
}

}  // namespace
}  // namespace ambrel
