#include <algorithm>
#include <unordered_set>
#include <vector>

#include "catalog/found_file_node.h"
#include "fs/fat/fat_reader.h"

namespace ambrel {
namespace {

void AppendRun(ExtentList& extents, std::uint64_t start, std::uint64_t sectors) {
  if (!extents.empty()) {
    DataExtent& last = extents.back();
    if (last.startSector + last.sectorCount == start) {
      last.sectorCount += sectors;
      return;
    }
  }
  DataExtent e;
  e.startSector = start;
  e.sectorCount = sectors;
  extents.push_back(e);
}

}  // namespace

ChainEnd FatChainExtents(const PartitionInfo& partition, const FoundFileNode& node, ExtentList& extents) {
  extents.clear();
  auto g = FatGeometryOf(partition);
  if (!g) return ChainEnd::kEndsEarly;
  const std::uint64_t size = node.size;
  if (KindOf(node) == kDeletedFolder) {
    if (g->InClusterRange(node.firstCluster) && size > 0)
      AppendRun(extents, g->ClusterLba(node.firstCluster), (size + 511) / 512);
    return extents.empty() ? ChainEnd::kEndsEarly : ChainEnd::kCovered;
  }
  if (size == 0) return ChainEnd::kCovered;
  const std::uint64_t first = node.firstCluster;
  if (!g->InClusterRange(first)) return ChainEnd::kEndsEarly;
  FatEntries fat(partition.fat, *g);
  const std::uint64_t clusterBytes = std::uint64_t(g->spc) * 512;
  const std::uint64_t wanted = (size + clusterBytes - 1) / clusterBytes;
  const std::uint64_t lastCluster = g->clusterCount + 2;  // as InClusterRange allows
  const bool live = KindOf(node) == kPresentFile || KindOf(node) == kPresentFolder;
  // A deleted file's chain was freed with it, and so was that of a live
  // entry whose first cluster reads free (an entry left behind in a
  // deleted folder): its clusters are taken as contiguous, never past the
  // volume's last cluster. So are those of every file when the FAT could
  // not be loaded.
  if (!live || fat.empty() || fat.Next(first) == 0) {
    const std::uint64_t count = std::min(wanted, lastCluster - first + 1);
    AppendRun(extents, g->ClusterLba(first), count * g->spc);
    return count == wanted ? ChainEnd::kCovered : ChainEnd::kEndsEarly;
  }
  // A live chain is followed as the FAT records it and nowhere else: it
  // ends at an end-of-chain mark, at a free, bad or off-volume entry, or
  // where it comes back to a cluster it already holds, and the extents then
  // cover less than the size (the copy-out reports it).
  const std::uint32_t mask = g->fat32 ? 0x0FFFFFFF : 0xFFFFFFFF;
  // Only clusters whose entries were loaded can be followed (any other
  // reads free); a chain is never longer than the volume has clusters.
  const std::uint64_t followable = fat.EntryCount();
  std::unordered_set<std::uint64_t> visited;
  visited.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(wanted, 4096)));
  std::uint64_t cluster = first;
  for (std::uint64_t held = 0;;) {
    if (cluster >= followable) return ChainEnd::kEndsEarly;
    if (!visited.insert(cluster).second) return ChainEnd::kLoop;
    AppendRun(extents, g->ClusterLba(cluster), g->spc);
    if (++held >= wanted) return ChainEnd::kCovered;
    const std::uint64_t next = fat.Next(cluster) & mask;
    if (next == 0 || !g->InClusterRange(next)) return ChainEnd::kEndsEarly;
    cluster = next;
  }
}

bool FatFileExtents(const PartitionInfo& partition, const FoundFileNode& node, ExtentList& extents) {
  FatChainExtents(partition, node, extents);
  return !extents.empty();
}

}  // namespace ambrel
