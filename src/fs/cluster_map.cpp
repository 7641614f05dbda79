#include "fs/cluster_map.h"

#include <algorithm>
#include <atomic>

#include "catalog/node_table.h"
#include "fs/exfat/exfat_geometry.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_geometry.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_file_data.h"
#include "fs/ntfs/ntfs_geometry.h"

namespace ambrel {

namespace {

constexpr int kMaxPathDepth = 256;

bool IsFatKind(std::int32_t kind) { return kind == kFsFat16 || kind == kFsFat32; }

bool BitSet(std::span<const std::uint8_t> bytes, std::uint64_t bit) {
  return bit / 8 < bytes.size() && ((bytes[bit / 8] >> (bit % 8)) & 1) != 0;
}

std::string PathOf(const FoundFileTable& table, std::uint32_t id) {
  std::string path;
  for (int depth = 0; id != kRootId && depth < kMaxPathDepth; ++depth) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node || !node->name) break;
    path = path.empty() ? std::string(node->name) : std::string(node->name) + "/" + path;
    if (node->parentId == id) break;
    id = node->parentId;
  }
  return path;
}

}  // namespace

std::optional<ClusterGrid> ClusterGridOf(const PartitionInfo& partition) {
  ClusterGrid grid;
  if (IsFatKind(partition.fsKind)) {
    auto g = FatGeometryOf(partition);
    if (!g || g->spc == 0) return std::nullopt;
    grid = {g->dataStart, g->spc, 2, g->clusterCount + 1};
  } else if (partition.fsKind == kFsExfat) {
    auto g = ExfatGeometryOf(partition);
    if (!g) return std::nullopt;
    grid = {g->ClusterLba(2), g->spc, 2, g->clusterCount};
  } else if (partition.fsKind == kFsNtfs) {
    const std::uint32_t spc = SectorsPerCluster(partition);
    if (spc == 0) return std::nullopt;
    const std::uint64_t sectors = partition.sectorCount;
    grid = {partition.startLba, spc, 0, sectors / spc};
  } else {
    return std::nullopt;
  }
  return grid;
}

std::optional<ClusterUse> ClusterUse::Of(const PartitionInfo& partition) {
  auto grid = ClusterGridOf(partition);
  if (!grid) return std::nullopt;
  ClusterUse use;
  use.grid_ = *grid;
  if (IsFatKind(partition.fsKind)) {
    auto g = FatGeometryOf(partition);
    if (partition.fat.empty()) return std::nullopt;
    use.map_ = Map::kFat;
    use.entryBits_ = g->EntryBits();
    use.bytes_ = partition.fat;
  } else {
    if (partition.allocationBitmap.empty()) return std::nullopt;
    use.map_ = partition.fsKind == kFsExfat ? Map::kBitmapFrom2 : Map::kBitmapFrom0;
    use.bytes_ = partition.allocationBitmap;
  }
  return use;
}

bool ClusterUse::InUse(std::uint64_t cluster) const {
  switch (map_) {
    case Map::kFat: {
      if (cluster < 2) return false;
      FatGeometry widths;
      widths.fat32 = entryBits_ == 32;
      widths.fat12 = entryBits_ == 12;
      const std::uint32_t v = FatEntries(bytes_, widths).Next(cluster);
      return (entryBits_ == 32 ? (v & 0x0FFFFFFF) : v) != 0;
    }
    case Map::kBitmapFrom2:
      return cluster >= 2 && BitSet(bytes_, cluster - 2);
    case Map::kBitmapFrom0:
      return BitSet(bytes_, cluster);
  }
  return false;
}

ClusterTally ClusterUse::Count(const ExtentList& extents, std::uint64_t size) const {
  ClusterTally t;
  std::uint64_t done = 0;  // bytes of the file before this extent
  for (const DataExtent& e : extents) {
    if (done >= size) break;
    const std::uint64_t bytes = std::min(e.sectorCount * 512, size - done);
    if (!e.sparse && bytes > 0 && grid_.Holds(e.startSector)) {
      const std::uint64_t lastLba = e.startSector + (bytes + 511) / 512 - 1;
      const std::uint64_t c0 = grid_.ClusterOf(e.startSector);
      const std::uint64_t c1 = grid_.Holds(lastLba) ? grid_.ClusterOf(lastLba) : grid_.base + grid_.count - 1;
      for (std::uint64_t c = c0; c <= c1; ++c) {
        ++t.clusters;
        if (!InUse(c)) continue;
        ++t.taken;
        if (t.firstTakenByte == UINT64_MAX)
          t.firstTakenByte = done + (std::max(grid_.LbaOf(c), e.startSector) - e.startSector) * 512;
      }
    }
    done += bytes;
  }
  return t;
}

std::uint32_t ClusterOwners::NameHash(const char* name) {
  // FNV-1a over the name's bytes.
  std::uint32_t h = 2166136261u;
  for (const char* c = name ? name : ""; *c; ++c) h = (h ^ static_cast<std::uint8_t>(*c)) * 16777619u;
  return h;
}

std::string OwnerPath(const PartitionInfo& partition, const ClusterOwners::Owner& owner) {
  const FoundFileTable& table = partition.table;
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* n = NodeAt(table, id);
    if (!n || !n->name || id == kRootId) continue;
    const NodeKind kind = KindOf(*n);
    if (kind != kPresentFile && kind != kPresentFolder) continue;
    const std::uint64_t first = n->firstCluster;
    if (first == owner.firstCluster && ClusterOwners::NameHash(n->name) == owner.nameHash) return PathOf(table, id);
  }
  return "";
}

std::uint32_t ClusterOwners::AddOwner(Owner owner) {
  owners_.push_back(std::move(owner));
  return static_cast<std::uint32_t>(owners_.size() - 1);
}

void ClusterOwners::Add(std::uint64_t first, std::uint64_t count, std::uint32_t owner) {
  if (count == 0) return;
  runs_.push_back({first, count, owner});
  longest_ = std::max(longest_, count);
}

void ClusterOwners::Finish() {
  std::sort(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
  std::sort(starts_.begin(), starts_.end());
  starts_.erase(std::unique(starts_.begin(), starts_.end()), starts_.end());
}

std::uint64_t ClusterOwners::StartBetween(std::uint64_t after, std::uint64_t before) const {
  auto it = std::upper_bound(starts_.begin(), starts_.end(), after);
  return it != starts_.end() && *it < before ? *it : 0;
}

bool ClusterOwners::FirstForeign(std::uint64_t first, std::uint64_t count, std::uint64_t selfFirst,
                                 const char* selfName, std::uint64_t& at, const Owner*& owner) const {
  if (count == 0 || runs_.empty()) return false;
  const std::uint64_t end = first + count;
  // Runs that may overlap start before `end` and no earlier than
  // first - longest.
  const std::uint64_t from = first > longest_ ? first - longest_ : 0;
  auto it = std::lower_bound(runs_.begin(), runs_.end(), from,
                             [](const Run& r, std::uint64_t v) { return r.first < v; });
  bool found = false;
  for (; it != runs_.end() && it->first < end; ++it) {
    const std::uint64_t runEnd = it->first + it->count;
    if (runEnd <= first) continue;
    const Owner& o = owners_[it->owner];
    if (o.firstCluster == selfFirst && o.nameHash == NameHash(selfName)) continue;
    const std::uint64_t overlap = std::max(first, it->first);
    if (!found || overlap < at) {
      at = overlap;
      owner = &o;
      found = true;
    }
  }
  return found;
}

bool WalksFatChain(const FoundFileNode& node, const PartitionInfo& partition) {
  const NodeKind kind = KindOf(node);
  if ((kind != kPresentFile && kind != kPresentFolder) || partition.fat.empty()) return false;
  if (partition.fsKind == kFsExfat)
    return !ExfatNoFatChain(node) && FatEntries(partition.fat, true).Next(node.firstCluster) != 0;
  if (!IsFatKind(partition.fsKind)) return false;
  auto g = FatGeometryOf(partition);
  return g && FatEntries(partition.fat, *g).Next(node.firstCluster) != 0;
}

void BuildClusterOwners(PartitionInfo& partition) {
  partition.clusterOwners.reset();
  const bool fat = IsFatKind(partition.fsKind);
  if ((!fat && partition.fsKind != kFsExfat) || partition.fat.empty()) return;
  auto grid = ClusterGridOf(partition);
  if (!grid) return;
  const std::uint64_t clusterBytes = std::uint64_t(grid->spc) * 512;
  std::uint32_t mask = 0xFFFFFFFF;
  unsigned bits = 32;
  if (fat) {
    auto g = FatGeometryOf(partition);
    bits = g->EntryBits();
    if (g->fat32) mask = 0x0FFFFFFF;
  }
  FatGeometry widths;
  widths.fat32 = bits == 32;
  widths.fat12 = bits == 12;
  FatEntries entries(partition.fat, widths);
  auto isEnd = [&](std::uint32_t v) {
    v &= mask;
    return fat ? IsFatEndOfChain(v, bits == 32) : v == 0xFFFFFFFF;
  };
  auto owners = std::make_shared<ClusterOwners>();
  const FoundFileTable& table = partition.table;
  ExtentList extents;
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* n = NodeAt(table, id);
    if (!n || !n->name || id == kRootId || id == kLostFolderId) continue;
    const std::uint64_t start = n->firstCluster;
    if (start >= 2 && !(n->flags & (kFlagResident | kFlagVideoRebuilt))) owners->AddStart(start);
    const NodeKind kind = KindOf(*n);
    if (kind != kPresentFile && kind != kPresentFolder) continue;
    if (n->flags & (kFlagResident | kFlagVideoRebuilt)) continue;
    FoundFileNode probe = *n;
    // A FAT folder records no size: its chain runs to its end mark.
    const bool sizeless = kind == kPresentFolder && fat;
    if (sizeless) probe.size = (grid->count + 2) * clusterBytes;
    const ChainEnd end = fat ? FatChainExtents(partition, probe, extents) : ExfatChainExtents(extents, probe, partition);
    if (extents.empty() || end == ChainEnd::kLoop) continue;
    if (!sizeless && end != ChainEnd::kCovered) continue;
    // Consistent: the chain's last cluster carries the end mark (files
    // stored without a FAT chain on exFAT are consistent by their flag).
    const DataExtent& last = extents.back();
    const std::uint64_t lastCluster = grid->ClusterOf(last.startSector + last.sectorCount - 1);
    const bool unchained = !fat && ExfatNoFatChain(*n);
    const std::uint64_t probeFirst = n->firstCluster;
    if (!unchained && !isEnd(entries.Next(lastCluster))) continue;
    const std::uint32_t owner = owners->AddOwner({probeFirst, ClusterOwners::NameHash(n->name)});
    for (const DataExtent& e : extents) {
      if (!grid->Holds(e.startSector)) continue;
      owners->Add(grid->ClusterOf(e.startSector), (e.sectorCount + grid->spc - 1) / grid->spc, owner);
    }
  }
  owners->Finish();
  partition.clusterOwners = std::move(owners);
}

void LoadNtfsAllocation(PartitionInfo& partition, const std::atomic<std::uint32_t>* stopWord) {
  std::vector<std::uint8_t> bitmap;
  if (LoadNtfsClusterBitmap(partition, stopWord, bitmap)) partition.allocationBitmap = std::move(bitmap);
  else partition.allocationBitmap.clear();
}

}  // namespace ambrel
