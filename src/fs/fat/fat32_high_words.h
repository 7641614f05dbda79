// Rebuilding the high 16 bits of the first cluster of deleted FAT32 entries
// (cleared on deletion) from their neighbours in the table and from the
// kinds of data a completed deep scan found at cluster starts.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "catalog/partition_info.h"
#include "fs/fat/fat_geometry.h"

namespace ambrel {

// A deep-scan hit reduced to what the FAT reader uses: its LBA and kind
// (a type code, or 231 for a FAT directory cluster).
struct ClusterKindHit {
  std::uint64_t lba = 0;
  std::uint16_t kind = 0;
};

// One u16 kind per cluster (cluster count + 2 entries, at most 0x4000000).
class ClusterKindTable {
 public:
  ClusterKindTable() = default;
  // Records each hit at a whole cluster boundary of the data area; hits
  // whose cluster lies outside the table are skipped.
  ClusterKindTable(const FatGeometry& geometry, std::span<const ClusterKindHit> hits);
  bool Contains(std::uint64_t cluster) const { return cluster < kinds_.size(); }
  std::uint16_t KindAt(std::uint64_t cluster) const { return Contains(cluster) ? kinds_[cluster] : 0; }
  bool empty() const { return kinds_.empty(); }

 private:
  std::vector<std::uint16_t> kinds_;
};

inline constexpr std::uint64_t kMaxClusterKinds = 0x4000000;

// For each deleted node in [firstId, endId) whose first cluster has bits
// 16-27 clear (deleted folders only when deletedDirsOnly), estimates the high
// word from the closest-in-time neighbours and, for typed entries, from the
// cluster kinds (those of a completed scan). Needs FAT32, a loaded FAT and
// a range of at least 6 ids; false otherwise.
bool RecoverFat32HighWords(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                           std::uint32_t firstId, std::uint32_t endId, bool deletedDirsOnly,
                           const ClusterKindTable& kinds);

}  // namespace ambrel
