// The free space of a partition for the scans of modes 2 and 5: which
// chunks hold free clusters (NTFS: bitmap bits clear; FAT: entries 0; exFAT:
// every chunk), and the per-sector test the organisation uses.
#pragma once

#include <cstdint>
#include <vector>

#include "catalog/partition_info.h"

namespace ambrel {

class FreeSpaceMap {
 public:
  // Loads the cluster geometry and the allocation data of `partition`
  // (NTFS $Bitmap, first FAT copy; exFAT needs none). False when the file
  // system gives no geometry or its map cannot be read.
  bool Load(const PartitionInfo& partition);
  // Built from parts (tests, and a map already in memory). `map` is the
  // NTFS bitmap or the FAT bytes.
  void SetNtfs(std::uint64_t partStart, std::uint32_t spc, std::uint64_t clusters,
               std::vector<std::uint8_t> bitmap);
  void SetFat(std::uint64_t dataStart, std::uint32_t spc, std::uint64_t clusters, unsigned entryBits,
              std::vector<std::uint8_t> fat);
  void SetExfat(std::uint32_t spc);

  std::int32_t fsKind() const { return fsKind_; }
  std::uint32_t SectorsPerCluster() const { return spc_; }
  std::uint64_t DataStart() const { return dataStart_; }

  // True when the sector lies in a free cluster (exFAT: always; outside the
  // cluster area of FAT: true, those sectors are not files' data).
  bool IsFreeSector(std::uint64_t lba) const;
  // Sectors from `lba` up to the end of the run of free clusters that holds
  // it, at most `limit` (0 when `lba` is not free; exFAT: `limit`).
  std::uint64_t FreeRunSectors(std::uint64_t lba, std::uint64_t limit) const;
  // The chunks from floor(start) to ceil(start + sectors), both ends
  // inclusive, that qualify, ascending.
  std::vector<std::uint64_t> FreeChunks(std::uint64_t start, std::uint64_t sectors) const;

 private:
  bool ClusterFree(std::uint64_t cluster) const;
  bool ChunkHasFreeCluster(std::uint64_t chunkLba) const;

  std::int32_t fsKind_ = kFsUnknown;
  std::uint64_t dataStart_ = 0;  // LBA of the first cluster (NTFS cluster 0, FAT cluster 2)
  std::uint32_t spc_ = 0;
  std::uint64_t clusters_ = 0;
  unsigned entryBits_ = 0;
  std::vector<std::uint8_t> map_;
};

}  // namespace ambrel
