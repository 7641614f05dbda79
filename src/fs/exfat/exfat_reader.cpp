#include "fs/exfat/exfat_reader.h"

#include <algorithm>
#include <functional>
#include <unordered_set>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "common/byte_cursor.h"
#include "common/text.h"
#include "fs/directory_salvage.h"
#include "fs/exfat/exfat_entries.h"
#include "fs/fat/fat_directory.h"
#include "fs/fat/fat_geometry.h"

namespace ambrel {
namespace {

using StopWord = std::atomic<std::uint32_t>;

constexpr int kMaxDirectoryDepth = 128;
constexpr std::uint32_t kReadChunkSectors = 0x8000;  // 16 MiB per read
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFF;

bool StopRequested(const StopWord* stop) { return stop && stop->load(std::memory_order_relaxed) == 2; }

struct ExfatWalk {
  const StopWord* stop;
  ScanProgress* progress;
  DiskHandle& handle;
  PartitionInfo& partition;
  ExfatGeometry geometry;
  std::unordered_set<std::uint32_t> visited;  // first clusters of directories read
  int depth = 0;
  std::unordered_set<std::uint32_t> covered;  // every cluster of the directories read
};

// Reads `sectors` sectors in bounded pieces, each with the salvage of the
// copy-out: only the sectors that cannot be read stay zero. Their offsets
// from `lba` go to `bad` when given.
bool ReadLarge(DiskHandle& handle, std::uint64_t lba, std::uint64_t sectors, std::uint8_t* out,
               std::vector<std::uint64_t>* bad = nullptr) {
  bool ok = true;
  std::vector<std::uint32_t> lost;
  for (std::uint64_t done = 0; done < sectors;) {
    std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kReadChunkSectors, sectors - done));
    lost.clear();
    ok &= ReadSectorsSalvaging(handle, lba + done, n, out + done * kSectorSize, &lost) == 0;
    if (bad)
      for (std::uint32_t b : lost) bad->push_back(done + b);
    done += n;
  }
  return ok;
}

std::uint32_t FatEntry(const PartitionInfo& p, std::uint64_t cluster) {
  return FatEntries(p.fat, true).Next(cluster);
}

// Effective cluster count: as recorded, but no more than the partition holds.
std::uint32_t UsableClusterCount(const ExfatGeometry& g, const PartitionInfo& p) {
  std::uint64_t count = g.clusterCount;
  if (p.sectorCount != 0 && p.sectorCount != kUnknownPartitionSize && p.sectorCount > g.heapOffset)
    count = std::min<std::uint64_t>(count, (p.sectorCount - g.heapOffset) / g.spc);
  return static_cast<std::uint32_t>(count);
}

// `chained`: the directory always has a FAT chain (the root), so a free
// entry ends it rather than continuing in the next cluster.
std::vector<std::uint32_t> DirectoryChain(const ExfatWalk& walk, std::uint32_t first, std::uint64_t limit,
                                          bool chained) {
  const ExfatGeometry& g = walk.geometry;
  std::vector<std::uint32_t> chain;
  if (walk.partition.fat.empty()) {
    chain.push_back(first);
    return chain;
  }
  std::uint64_t c = first;
  std::unordered_set<std::uint64_t> held;  // a chain that comes back ends there
  while (g.InClusterRange(c) && chain.size() < g.clusterCount && held.insert(c).second) {
    if (chain.size() * g.ClusterBytes() >= limit) break;
    chain.push_back(static_cast<std::uint32_t>(c));
    std::uint64_t next = FatEntry(walk.partition, c);
    if (next == kEndOfChain || (chained && next == 0)) break;
    // A directory stored without a FAT chain (or a deleted one) continues
    // in the following cluster, up to its recorded size.
    if (next == 0) next = c + 1;
    if (next < 2) break;
    c = next;
  }
  return chain;
}

void ParseInto(ExfatWalk& walk, std::span<const std::uint8_t> buffer, std::uint32_t parentId);

// `lostChain`: the clusters of a lost folder, found by the orphan search.
bool ReadDirectory(ExfatWalk& walk, std::uint32_t first, std::uint64_t byteLimit, std::uint32_t parentId,
                   bool chained = false, const std::vector<std::uint32_t>* lostChain = nullptr) {
  if (StopRequested(walk.stop)) return false;
  const ExfatGeometry& g = walk.geometry;
  if (!g.InClusterRange(first) || walk.depth > kMaxDirectoryDepth) return false;
  if (!walk.visited.insert(first).second) return false;
  std::uint64_t limit = std::min(byteLimit, kExfatMaxDirectoryBytes);
  std::vector<std::uint32_t> chain = lostChain ? *lostChain : DirectoryChain(walk, first, limit, chained);
  walk.covered.insert(chain.begin(), chain.end());
  std::vector<std::uint8_t> buffer(chain.size() * g.ClusterBytes());
  // Each cluster is read with the salvage of the copy-out: a bad sector
  // costs the entries it holds, and is named with its folder.
  std::vector<std::uint32_t> unread, bad;
  std::string folder;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    if (StopRequested(walk.stop)) return false;
    const std::uint64_t lba = g.ClusterLba(chain[i]);
    bad.clear();
    ReadSectorsSalvaging(walk.handle, lba, g.spc, buffer.data() + i * g.ClusterBytes(), &bad);
    if (!bad.empty() && folder.empty()) folder = FolderPathOf(walk.partition.table, parentId, kMaxDirectoryDepth);
    for (std::uint32_t b : bad) {
      NoteUnreadMetadata(walk.partition, {UnreadMetadataKind::kFolderSectors, first, 1, lba + b, folder});
      unread.push_back(static_cast<std::uint32_t>(i * g.spc + b));
    }
  }
  if (unread.empty()) {
    ParseInto(walk, buffer, parentId);
  } else {
    // Each readable run on its own: a zeroed sector must not read as the
    // directory's end.
    ForEachReadableRun(
        buffer, unread, [&](std::span<const std::uint8_t> run) { ParseInto(walk, run, parentId); },
        HoldsDirectoryEnd);
  }
  return !StopRequested(walk.stop);
}

// Adds the node of a set; returns its id (0 when refused).
std::uint32_t AddSet(ExfatWalk& walk, const ExfatFileSet& set, std::uint32_t parentId) {
  FoundFileNode node{};
  node.parentId = parentId;
  node.firstCluster = set.firstCluster;
  node.size = set.size;
  node.created = set.created;
  node.modified = set.modified;
  if (walk.geometry.InClusterRange(set.firstCluster))
    node.dataSector = walk.geometry.heapOffset + std::uint64_t(set.firstCluster - 2) * walk.geometry.spc;
  SetKind(node, static_cast<NodeKind>((set.deleted ? 0 : 1) | (set.directory ? 2 : 0)));
  // A folder's fileCount counts the files below it: only its flag is kept.
  SetExfatStreamFacts(node, set.noFatChain, set.directory ? set.size : set.validLength);
  node.name = CopyNodeName(set.name.c_str());
  std::uint32_t id = AddNode(walk.partition.table, node, false);
  if (id) CountParsedNode(walk.progress, KindOf(node));
  return id;
}

struct PendingFolder {
  std::uint32_t id;
  std::uint32_t firstCluster;
  std::uint64_t size;
  bool deleted;
};

// Adds the sets of one directory, then enters its folders of non-zero size:
// live ones first, so that a deleted set pointing at a live folder's
// clusters does not claim them (each folder is read once).
void ParseInto(ExfatWalk& walk, std::span<const std::uint8_t> buffer, std::uint32_t parentId) {
  std::vector<PendingFolder> folders;
  ForEachExfatSet(buffer, [&](const ExfatFileSet& set) {
    if (StopRequested(walk.stop)) return;
    std::uint32_t id = AddSet(walk, set, parentId);
    if (id && set.directory && set.size > 0) folders.push_back({id, set.firstCluster, set.size, set.deleted});
  });
  for (bool deleted : {false, true}) {
    for (const PendingFolder& f : folders) {
      if (f.deleted != deleted || StopRequested(walk.stop)) continue;
      ++walk.depth;
      ReadDirectory(walk, f.firstCluster, f.size, f.id);
      --walk.depth;
    }
  }
}

ExfatWalk MakeWalk(const StopWord* stop, ScanProgress* progress, DiskHandle& handle, PartitionInfo& partition,
                   const ExfatGeometry& g) {
  ExfatWalk walk{stop, progress, handle, partition, g, {}, 0, {}};
  walk.geometry.clusterCount = UsableClusterCount(g, partition);
  return walk;
}

void LoadExfatFat(PartitionInfo& p, DiskHandle& handle, const ExfatGeometry& g, std::uint32_t clusters) {
  std::uint64_t needed = (std::uint64_t(clusters) + 2) * 4;
  std::uint64_t sectors = std::min<std::uint64_t>(g.fatLength, (needed + 511) / 512);
  p.fat.assign(sectors * kSectorSize, 0);
  std::vector<std::uint64_t> bad;
  ReadLarge(handle, g.partitionStart + g.fatOffset, sectors, p.fat.data(), &bad);
  for (std::uint64_t b : bad)
    NoteUnreadMetadata(p, {UnreadMetadataKind::kFatSectors, b, 1, g.partitionStart + g.fatOffset + b, {}});
}

// The allocation bitmap named by the 0x81 entry among the root's first 16 entries.
void LoadExfatBitmap(PartitionInfo& p, DiskHandle& handle, const ExfatGeometry& g, std::uint32_t clusters) {
  p.allocationBitmap.clear();
  std::uint8_t sector[512];
  ReadSectors(handle, g.ClusterLba(g.rootCluster), 1, sector);
  ByteCursor c(sector, sizeof sector);
  for (unsigned i = 0; i < 16; ++i) {
    if (sector[i * 32] != 0x81) continue;
    std::uint32_t first = c.UncheckedU32(i * 32 + 20);
    std::uint64_t length = std::min<std::uint64_t>(c.UncheckedU32(i * 32 + 24), (std::uint64_t(clusters) + 7) / 8);
    if (length == 0 || !g.InClusterRange(first)) return;
    std::uint64_t sectors = (length + 511) / 512;
    p.allocationBitmap.assign(sectors * kSectorSize, 0);
    ReadLarge(handle, g.ClusterLba(first), sectors, p.allocationBitmap.data());
    p.allocationBitmap.resize(length);
    return;
  }
}

// Where an entry set that begins at `at` of `bytes` stands: how many of
// its secondaries lie past the end of `bytes` (0 when it ends inside), or
// -1 when the entry there begins no set (a file entry, live or deleted,
// with 2..18 secondaries whose first is a stream extension of its kind).
int SecondariesPast(std::span<const std::uint8_t> bytes, std::size_t at) {
  const std::uint8_t type = bytes[at];
  if (type != 0x85 && type != 0x05) return -1;
  const unsigned secondaries = at + 1 < bytes.size() ? bytes[at + 1] : 0;
  if (secondaries < 2 || secondaries > 18) return -1;
  if (at + 32 < bytes.size() && bytes[at + 32] != (type == 0x85 ? 0xC0 : 0x40)) return -1;
  const std::size_t end = at + (std::size_t{secondaries} + 1) * 32;
  return end <= bytes.size() ? 0 : static_cast<int>((end - bytes.size() + 31) / 32);
}

// How a cluster of directory entries ends: at an end mark (an entry of
// type 0), or with `open` secondaries of a set still to come in the next
// cluster (`live`: of a live set).
struct EntriesEnd {
  bool endMark = false;
  unsigned open = 0;
  bool live = false;
};
EntriesEnd EndOfEntries(std::span<const std::uint8_t> cluster) {
  EntriesEnd end;
  for (std::size_t at = 0; at + 32 <= cluster.size(); at += 32) {
    const std::uint8_t type = cluster[at];
    if (type == 0) {
      end.endMark = true;
      end.open = 0;
      return end;
    }
    if (end.open > 0) {
      --end.open;
      continue;
    }
    if (type == 0x85 || type == 0x05) {
      end.open = cluster[at + 1];
      end.live = type == 0x85;
    }
  }
  return end;
}

// A lost folder's clusters: after its first, the next one is where its
// FAT entry points, or the cluster beside it where the entry is 0 (a
// folder stored without a chain, or a FAT cleared with it); an end mark in
// the FAT ends the folder. The next cluster is taken while it is free and
// unread, begins no other folder found, the cluster before did not end the
// entries, and it goes on with them: the rest of a set the cluster before
// left open, or a new set.
std::vector<std::uint32_t> LostFolderChain(ExfatWalk& walk, std::uint64_t first, std::uint64_t highest,
                                           const std::function<bool(std::uint64_t)>& candidate,
                                           const std::unordered_set<std::uint64_t>& starts) {
  const ExfatGeometry& g = walk.geometry;
  const std::uint64_t clusterBytes = g.ClusterBytes();
  std::vector<std::uint8_t> cluster(clusterBytes);
  std::vector<std::uint32_t> chain{static_cast<std::uint32_t>(first)};
  std::unordered_set<std::uint64_t> held{first};
  for (std::uint64_t c = first; chain.size() * clusterBytes < kExfatMaxDirectoryBytes;) {
    if (StopRequested(walk.stop) || !ReadSectors(walk.handle, g.ClusterLba(c), g.spc, cluster.data())) break;
    const EntriesEnd end = EndOfEntries(cluster);
    const std::uint32_t entry = walk.partition.fat.empty() ? 0 : FatEntry(walk.partition, c);
    if (end.endMark || entry == kEndOfChain) break;
    const std::uint64_t next = entry == 0 ? c + 1 : entry;
    if (next < 2 || next > highest || !candidate(next) || starts.count(next) || !held.insert(next).second) break;
    if (!ReadSectors(walk.handle, g.ClusterLba(next), 1, cluster.data())) break;
    const std::span<const std::uint8_t> head(cluster.data(), kSectorSize);
    const bool goesOn = end.open > 0 ? head[0] == (end.live ? 0xC1 : 0x41) || head[0] == (end.live ? 0xC0 : 0x40)
                                     : SecondariesPast(head, 0) >= 0;
    if (!goesOn) break;
    chain.push_back(static_cast<std::uint32_t>(next));
    c = next;
  }
  return chain;
}

// Folders the walk did not reach: free clusters (by the allocation bitmap)
// outside every directory read that begin with a whole entry set (read on
// into the next sector when the first set is longer than one: a name of
// more than 210 characters), or that go on with the rest of a set and then
// begin a whole one (a folder's later cluster). Their entries, with those
// of the clusters that follow them, go under the lost-files folder as
// deleted entries.
void WalkOrphanFolders(ExfatWalk& walk) {
  const PartitionInfo& p = walk.partition;
  const ExfatGeometry& g = walk.geometry;
  if (p.allocationBitmap.empty() || g.clusterCount == 0) return;
  const std::uint64_t highest =
      std::min<std::uint64_t>(std::uint64_t(g.clusterCount) + 1, p.allocationBitmap.size() * 8 + 1);
  const OrphanClusterArea area{g.ClusterLba(2), g.spc, highest};
  auto candidate = [&](std::uint64_t c) {
    const std::uint64_t bit = c - 2;
    return (p.allocationBitmap[bit / 8] & (1u << (bit % 8))) == 0 && !walk.covered.count(static_cast<std::uint32_t>(c));
  };
  std::vector<std::uint8_t> longer(2 * kSectorSize);
  std::unordered_set<std::uint64_t> pieces;
  auto recognise = [&](std::span<const std::uint8_t> sector, std::uint64_t c, std::vector<std::uint64_t>& children) {
    std::span<const std::uint8_t> start = sector;
    // The first set runs past the sector: its rest lies in the cluster's
    // next sector, or in the folder's next cluster (where the FAT points,
    // or beside it).
    if (sector.size() >= kSectorSize && SecondariesPast(sector, 0) > 0) {
      std::uint64_t rest = g.ClusterLba(c) + 1;
      if (g.spc == 1) {
        const std::uint32_t entry = p.fat.empty() ? 0 : FatEntry(p, c);
        const std::uint64_t next = entry == 0 || entry == kEndOfChain ? c + 1 : entry;
        if (!g.InClusterRange(next)) return false;
        rest = g.ClusterLba(next);
      }
      std::copy(sector.begin(), sector.begin() + kSectorSize, longer.begin());
      if (!ReadSectors(walk.handle, rest, 1, longer.data() + kSectorSize)) return false;
      start = longer;
    }
    if (!IsExfatFolderStart(start)) {
      // A later cluster of a folder, freed when the folder shrank or was
      // deleted, that no first cluster found leads to: its whole sets.
      if (ExfatFolderPieceStart(sector) == 0) return false;
      pieces.insert(c);
    }
    ForEachExfatSet(start, [&](const ExfatFileSet& set) {
      if (set.directory && set.firstCluster >= 2) children.push_back(set.firstCluster);
    });
    return true;
  };
  const std::vector<OrphanFolder> found = FindOrphanFolders(walk.handle, area, candidate, recognise, walk.stop);
  std::unordered_set<std::uint64_t> starts;
  for (const OrphanFolder& f : found)
    if (!pieces.count(f.cluster)) starts.insert(f.cluster);
  const std::uint32_t before = walk.partition.table.count;
  walk.depth = 1;
  for (std::uint64_t c : OrphanWalkOrder(found)) {
    if (StopRequested(walk.stop)) break;
    // A piece that a lost folder's chain already read.
    if (pieces.count(c) && walk.covered.count(static_cast<std::uint32_t>(c))) continue;
    const std::vector<std::uint32_t> chain = LostFolderChain(walk, c, highest, candidate, starts);
    ReadDirectory(walk, static_cast<std::uint32_t>(c), chain.size() * g.ClusterBytes(), kLostFolderId, false, &chain);
  }
  walk.depth = 0;
  // Nothing reachable names these entries any more.
  for (std::uint32_t id = before; id < walk.partition.table.count; ++id) {
    FoundFileNode* node = NodeAt(walk.partition.table, id);
    if (node && node->name) SetKind(*node, static_cast<NodeKind>(KindOf(*node) & ~1u));
  }
}

}  // namespace

bool ReadExfatDirectory(const StopWord* stopWord, ScanProgress* progress, DiskHandle& handle,
                        PartitionInfo& partition, std::uint32_t firstCluster, std::uint64_t byteLimit,
                        std::uint32_t parentId) {
  auto g = ExfatGeometryOf(partition);
  if (!g) return false;
  ExfatWalk walk = MakeWalk(stopWord, progress, handle, partition, *g);
  return ReadDirectory(walk, firstCluster, byteLimit, parentId);
}

void ParseExfatEntries(ScanProgress* progress, DiskHandle& handle, const StopWord* stopWord,
                       PartitionInfo& partition, const std::uint8_t* buffer, std::uint64_t byteLength,
                       std::uint32_t parentId) {
  auto g = ExfatGeometryOf(partition);
  if (!g || !buffer) return;
  ExfatWalk walk = MakeWalk(stopWord, progress, handle, partition, *g);
  ParseInto(walk, std::span(buffer, static_cast<std::size_t>(byteLength)), parentId);
}

bool ReadExfatVolume(const StopWord* stopWord, PartitionInfo& partition, DiskHandle& handle,
                     OrphanFolderSearch orphans) {
  auto g = ExfatGeometryOf(partition);
  if (!g) return false;
  const std::uint32_t clusters = UsableClusterCount(*g, partition);
  LoadExfatFat(partition, handle, *g, clusters);
  if (StopRequested(stopWord)) return false;
  LoadExfatBitmap(partition, handle, *g, clusters);
  ScanProgress progress{};
  progress.stage = kStageParse;
  InitTable(partition.table);
  ExfatWalk walk = MakeWalk(stopWord, &progress, handle, partition, *g);
  // The root records no size: it is read to the end of its FAT chain (a
  // root of a thousand folders passes 64 KiB), within the directory cap.
  ReadDirectory(walk, g->rootCluster, kExfatMaxDirectoryBytes, kRootId, true);
  if (OrphanSearchApplies(orphans, partition.sectorCount)) WalkOrphanFolders(walk);
  LinkAll(partition.table);
  return !StopRequested(stopWord);
}

bool ReadExfatPartition(const StopWord* stopWord, PartitionInfo& partition, OrphanFolderSearch orphans) {
  if (GetSetting("ParseFileSys") != "1") return false;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return false;
  bool ok = ReadExfatVolume(stopWord, partition, handle, orphans);
  handle.Close();
  return ok;
}

void SetExfatStreamFacts(FoundFileNode& node, bool noFatChain, std::uint64_t validLength) {
  std::uint32_t facts = noFatChain ? kExfatNodeNoFatChain : 0;
  const std::uint64_t size = node.size;
  if (validLength < size) {
    facts |= kExfatNodeValidShort;
    node.fileCount = static_cast<std::uint32_t>(validLength);
    facts |= static_cast<std::uint32_t>((validLength >> 32) & 0xFFFFFF) << 8;
  }
  node.extraCount = facts;
}

bool ExfatNoFatChain(const FoundFileNode& node) { return (node.extraCount & kExfatNodeNoFatChain) != 0; }

bool ExfatValidShort(const FoundFileNode& node, std::uint64_t& validLength) {
  if (!(node.extraCount & kExfatNodeValidShort)) return false;
  validLength = (std::uint64_t(node.extraCount >> 8) << 32) | node.fileCount;
  const std::uint64_t size = node.size;
  return validLength < size;
}

namespace {

void AppendClusters(ExtentList& extents, const ExfatGeometry& g, std::uint64_t cluster, std::uint64_t count) {
  const std::uint64_t lba = g.ClusterLba(cluster);
  if (!extents.empty() && extents.back().startSector + extents.back().sectorCount == lba) {
    extents.back().sectorCount += count * g.spc;
    return;
  }
  DataExtent e;
  e.startSector = lba;
  e.sectorCount = count * g.spc;
  extents.push_back(e);
}

}  // namespace

ChainEnd ExfatChainExtents(ExtentList& extents, const FoundFileNode& node, const PartitionInfo& partition) {
  extents.clear();
  auto g = ExfatGeometryOf(partition);
  if (!g) return ChainEnd::kEndsEarly;
  g->clusterCount = UsableClusterCount(*g, partition);
  const std::uint64_t size = node.size;
  if (size == 0) return ChainEnd::kCovered;
  const std::uint64_t first = node.firstCluster;
  if (!g->InClusterRange(first)) return ChainEnd::kEndsEarly;
  const std::uint64_t wanted = (size + g->ClusterBytes() - 1) / g->ClusterBytes();
  const bool live = KindOf(node) == kPresentFile || KindOf(node) == kPresentFolder;
  if (!live || ExfatNoFatChain(node) || partition.fat.empty() || FatEntry(partition, first) == 0) {
    // Contiguous clusters, never past the volume's last cluster: a deleted
    // file's chain is gone, a file stored without one has none, and a live
    // entry whose first cluster reads free never had one written.
    const std::uint64_t last = std::uint64_t(g->clusterCount) + 1;
    const std::uint64_t count = std::min(wanted, last - first + 1);
    AppendClusters(extents, *g, first, count);
    return count == wanted ? ChainEnd::kCovered : ChainEnd::kEndsEarly;
  }
  // The FAT chain, cluster by cluster; no chain is longer than the volume.
  // Only clusters whose entries were loaded can be followed (any other
  // reads free); a chain is never longer than the volume has clusters.
  const std::uint64_t followable = partition.fat.size() / 4;
  std::unordered_set<std::uint64_t> visited;
  visited.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(wanted, 4096)));
  std::uint64_t c = first;
  for (std::uint64_t held = 0;;) {
    if (c >= followable) return ChainEnd::kEndsEarly;
    if (!visited.insert(c).second) return ChainEnd::kLoop;
    AppendClusters(extents, *g, c, 1);
    if (++held >= wanted) return ChainEnd::kCovered;
    const std::uint64_t next = FatEntry(partition, c);
    if (next == kEndOfChain || next == 0 || !g->InClusterRange(next)) return ChainEnd::kEndsEarly;
    c = next;
  }
}

std::size_t ExfatFileExtents(ExtentList& extents, const FoundFileNode& node, const PartitionInfo& partition) {
  ExfatChainExtents(extents, node, partition);
  return extents.size();
}

bool ReadExfatVolumeLabel(PartitionInfo& partition, DiskHandle& handle) {
  auto g = ExfatGeometryOf(partition);
  if (!g || !g->InClusterRange(g->rootCluster)) return false;
  std::vector<std::uint8_t> cluster(g->ClusterBytes());
  ReadLarge(handle, g->ClusterLba(g->rootCluster), g->spc, cluster.data());
  for (std::size_t off = 0; off + 32 <= cluster.size(); off += 32) {
    const std::uint8_t* e = cluster.data() + off;
    if (e[0] == 0) break;
    if (e[0] == 0x83 && e[1] < 16) {
      partition.volumeLabel = Utf16LeBytesToUtf8(e + 2, e[1]);
      return true;
    }
  }
  return false;
}

void MakeExfatPartition(PartitionInfo& partition, std::span<const std::uint8_t> bootSector, DiskHandle& handle,
                        std::uint64_t startLba) {
  if (bootSector.size() < 512) return;
  std::copy_n(bootSector.begin(), 512, partition.bootSector.begin());
  ByteCursor boot(bootSector);
  partition.startLba = startLba;
  partition.sectorCount = boot.UncheckedU64(72);
  partition.volumeSerial = boot.UncheckedU32(100);
  partition.fsKind = kFsExfat;
  partition.displayName = "exFat";
  partition.fsName = "exFAT";
  ReadExfatVolumeLabel(partition, handle);
}

bool IsExfatVolumeAt(std::span<const std::uint8_t> bootSector, DiskHandle& handle, std::uint64_t lba) {
  auto g = DecodeExfatGeometry(bootSector, lba);
  if (!g || g->rootCluster < 2) return false;
  std::uint8_t sector[512];
  if (!ReadSectors(handle, g->ClusterLba(g->rootCluster), 1, sector) || !IsExfatRootDirectory(sector))
    return false;
  if (!ReadSectors(handle, lba + g->fatOffset, 1, sector)) return false;
  return sector[0] == 0xF8 && sector[1] == 0xFF && sector[2] == 0xFF && sector[3] == 0xFF;
}

}  // namespace ambrel
