// FAT directory trees from the directory clusters a deep scan found outside
// any volume it could read ("." / ".." clusters and FAT32 root clusters).
// The clusters of one old volume agree on one layout (cluster size and the
// LBA of cluster 2), which follows from the "." cluster numbers they carry;
// each such group becomes a folder "Dir%02u" of one FatDir partition, and
// its directories are linked through the clusters their entries name.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/scan_hit.h"
#include "device/disk_handle.h"

namespace ambrel {

struct FatClusterLayout {
  std::uint32_t spc = 0;
  std::uint64_t clusterTwoLba = 0;  // LBA of cluster 2

  std::uint64_t ClusterLba(std::uint64_t cluster) const {
    return clusterTwoLba + std::uint64_t(spc) * (cluster - 2);
  }
  bool operator<(const FatClusterLayout& o) const {
    return spc != o.spc ? spc < o.spc : clusterTwoLba < o.clusterTwoLba;
  }
  bool operator==(const FatClusterLayout&) const = default;
};

// The layouts the directory hits vote for, most votes first: a hit at LBA x
// whose "." names cluster c fits (spc, x - spc x (c - 2)); a layout counts
// the hits that fit it, for cluster sizes 1..128, and only layouts that at
// least two hits agree on (or the only hit) are kept.
std::vector<FatClusterLayout> VoteFatLayouts(const std::vector<const ScanHit*>& directoryHits);

// Builds one FatDir partition (kind 16) from the directory hits (231) and
// root hits (232) still alive; null when none gives a tree.
std::unique_ptr<PartitionInfo> BuildFatDirectoryTrees(DiskHandle& disk,
                                                      const std::vector<const ScanHit*>& directoryHits,
                                                      const std::vector<const ScanHit*>& rootHits,
                                                      const std::string& displayName);

}  // namespace ambrel
