#include "fs/cluster_map.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <system_error>
#include <thread>

#include "catalog/node_table.h"
#include "fs/exfat/exfat_geometry.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_geometry.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_file_data.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_run_list.h"
#include "fs/ntfs/ntfs_volume.h"

namespace ambrel {

namespace {

constexpr int kMaxPathDepth = 256;
constexpr std::uint32_t kFirstSystemRecords = 16;

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
  return CountTaken(grid_, this, nullptr, extents, size);
}

ClusterTally CountTaken(const ClusterGrid& grid, const ClusterUse* use, const ClusterOwners* owners,
                        const ExtentList& extents, std::uint64_t size) {
  ClusterTally t;
  std::uint64_t done = 0;  // bytes of the file before this extent
  for (const DataExtent& e : extents) {
    if (done >= size) break;
    const std::uint64_t bytes = std::min(e.sectorCount * 512, size - done);
    if (!e.sparse && bytes > 0 && grid.Holds(e.startSector)) {
      const std::uint64_t lastLba = e.startSector + (bytes + 511) / 512 - 1;
      const std::uint64_t c0 = grid.ClusterOf(e.startSector);
      const std::uint64_t c1 = grid.Holds(lastLba) ? grid.ClusterOf(lastLba) : grid.base + grid.count - 1;
      t.clusters += c1 - c0 + 1;
      std::uint64_t first = UINT64_MAX;
      if (owners) {
        t.taken += owners->CountTaken(c0, c1 - c0 + 1, [use](std::uint64_t c) { return use && use->InUse(c); },
                                      first);
      } else {
        for (std::uint64_t c = c0; c <= c1; ++c) {
          if (!use || !use->InUse(c)) continue;
          ++t.taken;
          if (first == UINT64_MAX) first = c;
        }
      }
      if (first != UINT64_MAX && t.firstTakenByte == UINT64_MAX)
        t.firstTakenByte = done + (std::max(grid.LbaOf(first), e.startSector) - e.startSector) * 512;
    }
    done += bytes;
  }
  return t;
}

std::shared_ptr<const LaterVolume> LaterVolume::Of(const PartitionInfo& volume) {
  auto use = ClusterUse::Of(volume);
  if (!use || volume.sectorCount == 0 || volume.startLba > UINT64_MAX - volume.sectorCount) return nullptr;
  auto later = std::make_shared<LaterVolume>();
  later->startLba_ = volume.startLba;
  later->endLba_ = volume.startLba + volume.sectorCount;
  later->map_.assign(use->bytes_.begin(), use->bytes_.end());
  later->use_ = *use;
  later->use_.bytes_ = later->map_;
  ExtentList extents;
  for (std::uint32_t id = 0; id < volume.table.count; ++id) {
    const FoundFileNode* n = NodeAt(volume.table, id);
    if (!n || !n->name || KindOf(*n) != kPresentFile) continue;
    OwnerExtents(*n, volume, extents);
    for (const DataExtent& e : extents)
      if (!e.sparse) {
        later->liveStarts_.push_back(e.startSector);
        break;
      }
  }
  std::sort(later->liveStarts_.begin(), later->liveStarts_.end());
  return later;
}

ClusterTally LaterVolume::Count(const ExtentList& extents, std::uint64_t size) const {
  const ClusterGrid& grid = use_.grid_;
  ClusterTally t;
  for (const DataExtent& e : extents) {
    if (e.sparse) continue;
    if (std::binary_search(liveStarts_.begin(), liveStarts_.end(), e.startSector)) return t;
    break;
  }
  std::uint64_t done = 0;
  auto noteFirst = [&](std::uint64_t lba, const DataExtent& e) {
    if (t.firstTakenByte == UINT64_MAX) t.firstTakenByte = done + (lba - e.startSector) * 512;
  };
  for (const DataExtent& e : extents) {
    if (done >= size) break;
    const std::uint64_t bytes = std::min(e.sectorCount * 512, size - done);
    const std::uint64_t first = e.startSector, end = e.startSector + (bytes + 511) / 512;
    if (!e.sparse && bytes > 0 && end > startLba_ && first < endLba_) {
      // The new volume's own region before its clusters.
      const std::uint64_t metaFrom = std::max(first, startLba_), metaTo = std::min(end, grid.firstLba);
      if (metaFrom < metaTo) {
        const std::uint64_t units = (metaTo - metaFrom + grid.spc - 1) / grid.spc;
        t.clusters += units;
        t.taken += units;
        noteFirst(metaFrom, e);
      }
      const std::uint64_t gridEnd = grid.firstLba + grid.count * grid.spc;
      const std::uint64_t from = std::max(first, grid.firstLba), to = std::min({end, gridEnd, endLba_});
      if (from < to) {
        for (std::uint64_t c = grid.ClusterOf(from); c <= grid.ClusterOf(to - 1); ++c) {
          ++t.clusters;
          if (!use_.InUse(c)) continue;
          ++t.taken;
          noteFirst(std::max(grid.LbaOf(c), first), e);
        }
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
  if (partition.clusterOwners)
    if (const std::string* noted = partition.clusterOwners->NotedPath(owner)) return *noted;
  // Only FAT and exFAT owners are known by their entry's first cluster.
  if (!IsFatKind(partition.fsKind) && partition.fsKind != kFsExfat) return "";
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
  owners_.push_back(owner);
  return static_cast<std::uint32_t>(owners_.size() - 1);
}

void ClusterOwners::Reserve(std::size_t owners, std::size_t runs) {
  owners_.reserve(owners);
  runs_.reserve(runs);
}

void ClusterOwners::Add(std::uint64_t first, std::uint64_t count, std::uint32_t owner) {
  if (first > UINT64_MAX - count) return;
  // Runs are kept in pieces of at most 2^32 - 1 clusters.
  while (count > 0) {
    const std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, UINT32_MAX));
    runs_.push_back({first, piece, owner});
    first += piece;
    count -= piece;
  }
}

void ClusterOwners::Finish() {
  std::sort(starts_.begin(), starts_.end());
  starts_.erase(std::unique(starts_.begin(), starts_.end()), starts_.end());
  std::sort(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
  // A sweep over the run boundaries: between two of them the runs that
  // hold the clusters do not change. On a sound volume at most one run is
  // open at a time; the open runs are few even where files overlap.
  struct Open {
    std::uint64_t end;
    std::uint32_t owner;
  };
  std::vector<Open> open;
  ranges_.clear();
  ranges_.reserve(runs_.size());
  auto emit = [&](std::uint64_t from, std::uint64_t to) {
    if (open.empty() || from >= to) return;
    Range range{from, to, open.front().owner, kNoOwner};
    for (const Open& o : open)
      if (o.owner != range.owner) {
        range.other = o.owner;
        break;
      }
    // Runs of one file that follow each other make one range.
    if (!ranges_.empty() && ranges_.back().end == range.first && ranges_.back().owner == range.owner &&
        ranges_.back().other == range.other)
      ranges_.back().end = range.end;
    else
      ranges_.push_back(range);
  };
  std::uint64_t at = 0;
  std::size_t i = 0;
  while (i < runs_.size() || !open.empty()) {
    std::uint64_t next = i < runs_.size() ? runs_[i].first : UINT64_MAX;
    for (const Open& o : open) next = std::min(next, o.end);
    emit(at, next);
    at = next;
    std::erase_if(open, [at](const Open& o) { return o.end <= at; });
    for (; i < runs_.size() && runs_[i].first == at; ++i) open.push_back({at + runs_[i].count, runs_[i].owner});
  }
  LargeVector<Run>().swap(runs_);
  ranges_.shrink_to_fit();
  IndexRanges();
}

void ClusterOwners::IndexRanges() {
  buckets_.clear();
  shift_ = 0;
  if (ranges_.empty() || ranges_.size() >= UINT32_MAX) return;
  const std::uint64_t top = ranges_.back().end;
  while (shift_ < 63 && (top >> shift_) > ranges_.size()) ++shift_;
  const std::uint64_t count = (top >> shift_) + 1;
  buckets_.reserve(count);
  std::size_t i = 0;
  for (std::uint64_t b = 0; b < count; ++b) {
    const std::uint64_t cluster = b << shift_;
    while (i < ranges_.size() && ranges_[i].end <= cluster) ++i;
    buckets_.push_back(static_cast<std::uint32_t>(i));
  }
}

LargeVector<ClusterOwners::Range>::const_iterator ClusterOwners::RangeFrom(std::uint64_t cluster) const {
  // The first range that ends after the cluster (the ranges are disjoint,
  // so their ends are sorted too).
  auto endsAfter = [](std::uint64_t c, const Range& r) { return c < r.end; };
  const std::uint64_t b = cluster >> shift_;
  if (buckets_.empty() || b >= buckets_.size())
    return std::upper_bound(ranges_.begin(), ranges_.end(), cluster, endsAfter);
  // The range sought is at or after the bucket's first, and at or before
  // the next bucket's first (which ends after a higher cluster): when none
  // before that one ends after the cluster, the search gives that one.
  const auto from = ranges_.begin() + buckets_[b];
  const auto to = b + 1 < buckets_.size() ? ranges_.begin() + buckets_[b + 1] : ranges_.end();
  return std::upper_bound(from, to, cluster, endsAfter);
}

std::uint64_t ClusterOwners::StartBetween(std::uint64_t after, std::uint64_t before) const {
  auto it = std::upper_bound(starts_.begin(), starts_.end(), after);
  return it != starts_.end() && *it < before ? *it : 0;
}

bool ClusterOwners::FirstForeign(std::uint64_t first, std::uint64_t count, std::uint64_t selfFirst,
                                 const char* selfName, std::uint64_t& at, const Owner*& owner) const {
  if (count == 0 || first > UINT64_MAX - count) return false;
  const std::uint64_t end = first + count;
  const std::uint32_t selfHash = NameHash(selfName);
  auto isSelf = [&](std::uint32_t o) { return owners_[o].firstCluster == selfFirst && owners_[o].nameHash == selfHash; };
  for (auto it = RangeFrom(first); it != ranges_.end() && it->first < end; ++it) {
    std::uint32_t foreign = kNoOwner;
    if (!isSelf(it->owner)) foreign = it->owner;
    else if (it->other != kNoOwner && !isSelf(it->other)) foreign = it->other;
    if (foreign == kNoOwner) continue;
    at = std::max(first, it->first);
    owner = &owners_[foreign];
    return true;
  }
  return false;
}

bool ClusterOwners::FirstOwned(std::uint64_t first, std::uint64_t count, std::uint64_t& at,
                               const Owner*& owner) const {
  if (count == 0 || first > UINT64_MAX - count) return false;
  auto it = RangeFrom(first);
  if (it == ranges_.end() || it->first >= first + count) return false;
  at = std::max(first, it->first);
  owner = &owners_[it->owner];
  return true;
}

const std::string* ClusterOwners::NotedPath(const Owner& owner) const {
  if (owners_.empty() || &owner < owners_.data() || &owner >= owners_.data() + owners_.size()) return nullptr;
  auto it = paths_.find(static_cast<std::uint32_t>(&owner - owners_.data()));
  return it != paths_.end() ? &it->second : nullptr;
}

void ClusterOwners::NotePath(const Owner& owner, std::string path) {
  if (owners_.empty() || &owner < owners_.data() || &owner >= owners_.data() + owners_.size()) return;
  paths_.emplace(static_cast<std::uint32_t>(&owner - owners_.data()), std::move(path));
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

void OwnerExtents(const FoundFileNode& node, const PartitionInfo& partition, ExtentList& extents) {
  extents.clear();
  if (node.flags & (kFlagResident | kFlagVideoRebuilt)) return;
  if (IsFatKind(partition.fsKind)) {
    FatChainExtents(partition, node, extents);
  } else if (partition.fsKind == kFsExfat) {
    ExfatChainExtents(extents, node, partition);
  } else if (partition.fsKind == kFsNtfs && node.extra && node.firstCluster != 0) {
    const ByteSpan runList(static_cast<const std::uint8_t*>(node.extra), node.firstCluster);
    if (!ResolveExtents(partition, DecodeRunList(runList), extents)) extents.clear();
  }
}

std::uint64_t OwnerFirstCluster(const FoundFileNode& node, const PartitionInfo& partition,
                                const ExtentList& extents) {
  if (partition.fsKind != kFsNtfs) return node.firstCluster;
  auto grid = ClusterGridOf(partition);
  if (!grid) return 0;
  for (const DataExtent& e : extents)
    if (!e.sparse && grid->Holds(e.startSector)) return grid->ClusterOf(e.startSector);
  return 0;
}

bool FirstOwnedByte(const ClusterOwners& owners, const ClusterGrid& grid, const ExtentList& extents,
                    std::uint64_t size, const FoundFileNode* self, std::uint64_t selfFirst, std::uint64_t& byte,
                    const ClusterOwners::Owner*& owner) {
  std::uint64_t done = 0;
  for (const DataExtent& e : extents) {
    if (done >= size) break;
    const std::uint64_t bytes = std::min(e.sectorCount * 512, size - done);
    if (!e.sparse && bytes > 0 && grid.Holds(e.startSector)) {
      const std::uint64_t c0 = grid.ClusterOf(e.startSector);
      const std::uint64_t clusters = (bytes + grid.spc * 512ull - 1) / (grid.spc * 512ull);
      std::uint64_t at = 0;
      const bool found = self ? owners.FirstForeign(c0, clusters, selfFirst, self->name, at, owner)
                              : owners.FirstOwned(c0, clusters, at, owner);
      if (found) {
        byte = done + (std::max(grid.LbaOf(at), e.startSector) - e.startSector) * 512;
        return true;
      }
    }
    done += bytes;
  }
  return false;
}

namespace {

// FAT and exFAT: the chains consistent with their entries.
void AddFatOwners(const PartitionInfo& partition, const ClusterGrid& grid, ClusterOwners& owners) {
  const bool fat = IsFatKind(partition.fsKind);
  const std::uint64_t clusterBytes = std::uint64_t(grid.spc) * 512;
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
  const FoundFileTable& table = partition.table;
  ExtentList extents;
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* n = NodeAt(table, id);
    if (!n || !n->name || id == kRootId || id == kLostFolderId) continue;
    const std::uint64_t start = n->firstCluster;
    if (start >= 2 && !(n->flags & (kFlagResident | kFlagVideoRebuilt))) owners.AddStart(start);
    const NodeKind kind = KindOf(*n);
    if (kind != kPresentFile && kind != kPresentFolder) continue;
    if (n->flags & (kFlagResident | kFlagVideoRebuilt)) continue;
    FoundFileNode probe = *n;
    // A FAT folder records no size: its chain runs to its end mark.
    const bool sizeless = kind == kPresentFolder && fat;
    if (sizeless) probe.size = (grid.count + 2) * clusterBytes;
    const ChainEnd end = fat ? FatChainExtents(partition, probe, extents) : ExfatChainExtents(extents, probe, partition);
    if (extents.empty() || end == ChainEnd::kLoop) continue;
    if (!sizeless && end != ChainEnd::kCovered) continue;
    // Consistent: the chain's last cluster carries the end mark (files
    // stored without a FAT chain on exFAT are consistent by their flag).
    const DataExtent& last = extents.back();
    const std::uint64_t lastCluster = grid.ClusterOf(last.startSector + last.sectorCount - 1);
    const bool unchained = !fat && ExfatNoFatChain(*n);
    const std::uint64_t probeFirst = n->firstCluster;
    if (!unchained && !isEnd(entries.Next(lastCluster))) continue;
    const std::uint32_t owner = owners.AddOwner({probeFirst, ClusterOwners::NameHash(n->name), id});
    for (const DataExtent& e : extents) {
      if (!grid.Holds(e.startSector)) continue;
      owners.Add(grid.ClusterOf(e.startSector), (e.sectorCount + grid.spc - 1) / grid.spc, owner);
    }
  }
}

// NTFS: every live file's run list (a record that failed its update
// sequence or lost its $DATA is not trusted with clusters), the other
// attributes of the live files and folders, and the system files'.
void AddNtfsOwners(const PartitionInfo& partition, const ClusterGrid& grid, const std::vector<NamedRunList>& system,
                   const std::vector<NtfsAttributeRun>& attributeRuns, ClusterOwners& owners) {
  auto addExtents = [&](const ExtentList& extents, std::uint32_t owner) {
    for (const DataExtent& e : extents)
      if (!e.sparse && grid.Holds(e.startSector))
        owners.Add(grid.ClusterOf(e.startSector), (e.sectorCount + grid.spc - 1) / grid.spc, owner);
  };
  ExtentList extents;
  const FoundFileTable& table = partition.table;
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* n = NodeAt(table, id);
    if (!n || !n->name || id == kRootId || id == kLostFolderId || KindOf(*n) != kPresentFile) continue;
    if (n->extraCount & (kNtfsRecordTorn | kNtfsDataDamaged)) continue;
    OwnerExtents(*n, partition, extents);
    if (extents.empty()) continue;
    addExtents(extents, owners.AddOwner({OwnerFirstCluster(*n, partition, extents), ClusterOwners::NameHash(n->name), id}));
  }
  // The clusters of the live files' and folders' other attributes (index
  // blocks, named streams, ...), under the file's own owner.
  if (!attributeRuns.empty()) {
    std::vector<NtfsAttributeRun> runs = attributeRuns;
    std::stable_sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) {
      return std::less<const char*>()(a.nodeName, b.nodeName);
    });
    // The node of each name the runs give (few: the folders and the files
    // with more than one attribute), the first node that holds the name.
    std::vector<std::pair<const char*, std::uint32_t>> byName;
    for (const NtfsAttributeRun& run : runs)
      if (byName.empty() || byName.back().first != run.nodeName) byName.push_back({run.nodeName, UINT32_MAX});
    for (std::uint32_t id = 0; id < table.count && !byName.empty(); ++id) {
      const FoundFileNode* n = NodeAt(table, id);
      if (!n || !n->name) continue;
      const char* name = +n->name;
      auto at = std::lower_bound(byName.begin(), byName.end(), name, [](const auto& entry, const char* key) {
        return std::less<const char*>()(entry.first, key);
      });
      if (at != byName.end() && at->first == name && at->second == UINT32_MAX) at->second = id;
    }
    std::uint32_t owner = ClusterOwners::kNoOwner;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      if (i == 0 || runs[i].nodeName != runs[i - 1].nodeName) {
        owner = ClusterOwners::kNoOwner;
        auto found = std::lower_bound(byName.begin(), byName.end(), runs[i].nodeName,
                                      [](const auto& entry, const char* key) {
                                        return std::less<const char*>()(entry.first, key);
                                      });
        if (found == byName.end() || found->first != runs[i].nodeName || found->second == UINT32_MAX) continue;
        const std::uint32_t id = found->second;
        const FoundFileNode* n = NodeAt(table, id);
        if (id == kLostFolderId) continue;
        const NodeKind kind = KindOf(*n);
        if ((kind != kPresentFile && kind != kPresentFolder) || (n->extraCount & kNtfsRecordTorn)) continue;
        OwnerExtents(*n, partition, extents);
        owner = owners.AddOwner({OwnerFirstCluster(*n, partition, extents), ClusterOwners::NameHash(n->name), id});
      }
      if (owner == ClusterOwners::kNoOwner || !grid.Holds(grid.LbaOf(runs[i].firstCluster))) continue;
      owners.Add(runs[i].firstCluster, runs[i].clusterCount, owner);
    }
  }
  for (const NamedRunList& file : system) {
    if (file.runList.empty() ||
        !ResolveExtents(partition, DecodeRunList(ByteSpan(file.runList.data(), file.runList.size())), extents))
      continue;
    const std::uint32_t owner = owners.AddOwner(
        {OwnerFirstCluster(FoundFileNode{}, partition, extents), ClusterOwners::NameHash(file.name.c_str()),
         ClusterOwners::kNoOwner});
    addExtents(extents, owner);
  }
}

// Notes the path of each owner that a file runs into (a deleted file's
// first cluster in use again, a live file's first foreign cluster) while
// the table still holds the owners: the deleted files' view leaves them out.
// The search only reads the table and the map, so a large table is searched
// in two halves at once; the paths are noted afterwards, in table order.
void NoteOwnerPaths(const PartitionInfo& partition, const ClusterGrid& grid, ClusterOwners& owners) {
  const FoundFileTable& table = partition.table;
  using Hits = std::vector<const ClusterOwners::Owner*>;
  auto search = [&](std::uint32_t from, std::uint32_t to, Hits& hits) {
    ExtentList extents;
    for (std::uint32_t id = from; id < to; ++id) {
      const FoundFileNode* n = NodeAt(table, id);
      if (!n || !n->name || id == kRootId || !IsFileKind(KindOf(*n))) continue;
      OwnerExtents(*n, partition, extents);
      if (extents.empty()) continue;
      const bool live = KindOf(*n) == kPresentFile;
      std::uint64_t byte = 0;
      const ClusterOwners::Owner* owner = nullptr;
      if (FirstOwnedByte(owners, grid, extents, n->size, live ? n : nullptr,
                         live ? OwnerFirstCluster(*n, partition, extents) : 0, byte, owner) &&
          owner->nodeId != ClusterOwners::kNoOwner)
        hits.push_back(owner);
    }
  };
  constexpr std::uint32_t kSplitAt = 20000;  // below it a thread costs more than it saves
  Hits first, second;
  const std::uint32_t half = table.count / 2;
  bool split = false;
  if (table.count >= kSplitAt) {
    try {
      std::thread other([&] { search(half, table.count, second); });
      search(0, half, first);
      other.join();
      split = true;
    } catch (const std::system_error&) {
      first.clear();
      second.clear();
    }
  }
  if (!split) search(0, table.count, first);
  for (const Hits* hits : {&first, &second})
    for (const ClusterOwners::Owner* owner : *hits)
      if (!owners.NotedPath(*owner)) owners.NotePath(*owner, PathOf(table, owner->nodeId));
}

}  // namespace

void BuildClusterOwners(PartitionInfo& partition, const std::vector<NamedRunList>& system,
                        const std::vector<NtfsAttributeRun>& attributeRuns) {
  partition.clusterOwners.reset();
  const bool ntfs = partition.fsKind == kFsNtfs;
  if (!ntfs && ((!IsFatKind(partition.fsKind) && partition.fsKind != kFsExfat) || partition.fat.empty())) return;
  auto grid = ClusterGridOf(partition);
  if (!grid) return;
  auto owners = std::make_shared<ClusterOwners>();
  // About one owner and one run a file (the map's own growth copied it
  // several times over on a large volume).
  owners->Reserve(partition.table.count, std::size_t{partition.table.count} + partition.table.count / 4);
  if (ntfs) AddNtfsOwners(partition, *grid, system, attributeRuns, *owners);
  else AddFatOwners(partition, *grid, *owners);
  owners->Finish();
  NoteOwnerPaths(partition, *grid, *owners);
  partition.clusterOwners = std::move(owners);
}

void LoadNtfsAllocation(PartitionInfo& partition, const std::atomic<std::uint32_t>* stopWord) {
  std::vector<std::uint8_t> bitmap;
  if (LoadNtfsClusterBitmap(partition, stopWord, bitmap)) partition.allocationBitmap = std::move(bitmap);
  else partition.allocationBitmap.clear();
}

std::vector<NamedRunList> ReadNtfsSystemRunLists(const PartitionInfo& partition) {
  std::vector<NamedRunList> out;
  const std::uint32_t recordBytes = MftRecordBytes(partition);
  std::uint64_t mftLba = 0;
  if (recordBytes == 0 || !MftStartLba(partition.bootSector, partition.startLba, false, mftLba)) return out;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return out;
  // The system files are records 0 to 15, in the MFT's first run.
  std::vector<std::uint8_t> records(std::size_t{kFirstSystemRecords} * recordBytes);
  const bool read = ReadMftRecords(handle, mftLba, kFirstSystemRecords, recordBytes, records.data());
  handle.Close();
  if (!read) return out;
  for (std::uint32_t i = 0; i < kFirstSystemRecords; ++i) {
    const ByteSpan record(records.data() + std::size_t{i} * recordBytes, recordBytes);
    auto summary = DecodeMftRecord(record, true);
    if (!summary || summary->recordNumber != i || !(summary->nodeFlags & kFlagPresent) || summary->runList.empty())
      continue;
    out.push_back({summary->name, std::move(summary->runList)});
  }
  return out;
}

}  // namespace ambrel
