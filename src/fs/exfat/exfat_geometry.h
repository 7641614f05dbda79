// Layout of an exFAT volume derived from its boot sector.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "catalog/partition_info.h"

namespace ambrel {

struct ExfatGeometry {
  std::uint64_t partitionStart = 0;
  std::uint32_t fatOffset = 0;      // sectors from the partition start
  std::uint32_t fatLength = 0;      // sectors, as recorded
  std::uint32_t heapOffset = 0;     // sectors from the partition start
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
  std::uint32_t shift = 0;          // sectors per cluster = 1 << shift
  std::uint32_t spc = 1;

  std::uint64_t ClusterLba(std::uint64_t cluster) const {
    return partitionStart + heapOffset + (cluster - 2) * spc;
  }
  // Valid cluster numbers: 2 .. cluster count + 1.
  bool InClusterRange(std::uint64_t cluster) const {
    return cluster >= 2 && cluster < std::uint64_t(clusterCount) + 2;
  }
  std::uint64_t ClusterBytes() const { return std::uint64_t(spc) * 512; }
};

// Fails when the sector-size shift is not 9 or the cluster shift exceeds 16.
std::optional<ExfatGeometry> DecodeExfatGeometry(std::span<const std::uint8_t> bootSector,
                                                 std::uint64_t startLba);
std::optional<ExfatGeometry> ExfatGeometryOf(const PartitionInfo& partition);

}  // namespace ambrel
