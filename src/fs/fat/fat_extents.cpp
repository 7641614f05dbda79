#include <unordered_set>

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

bool FatFileExtents(const PartitionInfo& partition, const FoundFileNode& node, ExtentList& extents) {
  extents.clear();
  auto g = FatGeometryOf(partition);
  if (!g) return false;
  const std::uint64_t size = node.size;
  if (KindOf(node) == kDeletedFolder) {
    if (g->InClusterRange(node.firstCluster) && size > 0)
      AppendRun(extents, g->ClusterLba(node.firstCluster), (size + 511) / 512);
    return !extents.empty();
  }
  FatEntries fat(partition.fat, *g);
  const std::uint64_t clusterBytes = std::uint64_t(g->spc) * 512;
  std::uint64_t covered = 0;
  std::uint64_t cluster = node.firstCluster;
  // A chain that comes back to a cluster it already holds (a FAT entry
  // pointing at itself or at an earlier cluster) ends there, and no chain is
  // longer than the volume has clusters: the extents then cover less than
  // the size, which the copy-out reports as damage.
  std::unordered_set<std::uint64_t> visited;
  while (covered < size && g->InClusterRange(cluster) && visited.size() <= g->clusterCount &&
         visited.insert(cluster).second) {
    AppendRun(extents, g->ClusterLba(cluster), g->spc);
    covered += clusterBytes;
    std::uint64_t next = fat.Next(cluster);
    // A free entry (cleared on deletion), an end-of-chain or any value off
    // the volume continues with the following cluster.
    if (next == 0 || next > g->clusterCount + 2) next = cluster + 1;
    cluster = next;
  }
  return !extents.empty();
}

}  // namespace ambrel
