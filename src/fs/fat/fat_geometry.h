// Layout of a FAT16 / FAT32 volume derived from its boot sector.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "catalog/partition_info.h"

namespace ambrel {

// Fewer clusters than this: 12-bit FAT entries.
inline constexpr std::uint64_t kMinFat16Clusters = 4085;

// Every sector count here is in 512-byte sectors, whatever sector size the
// volume records (the boot sector's counts are scaled by it).
struct FatGeometry {
  bool fat32 = false;            // the FAT16 FAT-size field at 22 is 0
  bool fat12 = false;            // not FAT32, and fewer than 4085 clusters
  std::uint32_t spc = 0;         // sectors per cluster
  std::uint32_t reservedSectors = 0;
  std::uint32_t fatCount = 0;
  std::uint32_t rootEntries = 0;  // FAT16 root directory entries
  std::uint64_t fatSectors = 0;   // one FAT copy, as recorded
  std::uint64_t totalSectors = 0;
  std::uint64_t partitionStart = 0;
  std::uint64_t fatStart = 0;     // first FAT copy
  std::uint64_t rootStart = 0;    // FAT16 fixed root directory
  std::uint64_t dataStart = 0;    // LBA of cluster 2
  std::uint64_t clusterCount = 0;
  std::uint32_t rootCluster = 0;  // FAT32

  std::uint64_t ClusterLba(std::uint64_t cluster) const {
    return dataStart + std::uint64_t(spc) * (cluster - 2);
  }
  // Cluster numbers the readers follow: 2 .. cluster count + 2.
  bool InClusterRange(std::uint64_t cluster) const {
    return cluster >= 2 && cluster <= clusterCount + 2;
  }
  unsigned EntryBits() const { return fat32 ? 32 : fat12 ? 12 : 16; }
};

// Decodes the boot sector of a FAT partition starting at startLba. The total
// sector count is the 32-bit field at 32, or the 16-bit field at 19 when that
// is 0 (small FAT16 volumes). Fails when sectors per cluster is 0 or the data
// area would start past the end.
std::optional<FatGeometry> DecodeFatGeometry(std::span<const std::uint8_t> bootSector,
                                             std::uint64_t startLba);
std::optional<FatGeometry> FatGeometryOf(const PartitionInfo& partition);

// The loaded FAT: 12-bit entries on FAT12 (reserved values read as their
// FAT16 forms: 0xFF8.. as 0xFFF8..), u16 on FAT16, u32 on FAT32 (top 4 bits
// kept).
class FatEntries {
 public:
  FatEntries(std::span<const std::uint8_t> bytes, bool fat32) : bytes_(bytes), bits_(fat32 ? 32 : 16) {}
  FatEntries(std::span<const std::uint8_t> bytes, const FatGeometry& g)
      : bytes_(bytes), bits_(g.EntryBits()) {}
  std::uint64_t EntryCount() const;
  bool Contains(std::uint64_t cluster) const { return cluster < EntryCount(); }
  // The entry of a cluster; 0 when the cluster lies outside the loaded FAT.
  std::uint32_t Next(std::uint64_t cluster) const;
  bool empty() const { return bytes_.empty(); }

 private:
  std::span<const std::uint8_t> bytes_;
  unsigned bits_;
};

// End-of-chain values: 0xFFF8 and above on FAT16, 0x?FFFFFF8 and above on FAT32.
bool IsFatEndOfChain(std::uint32_t value, bool fat32);

}  // namespace ambrel
