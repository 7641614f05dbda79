#include "deepscan/free_space.h"

#include <algorithm>

#include "common/byte_cursor.h"
#include "deepscan/chunk_plan.h"
#include "fs/exfat/exfat_geometry.h"
#include "fs/fat/fat_geometry.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_file_data.h"
#include "fs/ntfs/ntfs_geometry.h"

namespace ambrel {

bool FreeSpaceMap::Load(const PartitionInfo& partition) {
  if (partition.fsKind == kFsExfat) {
    auto g = ExfatGeometryOf(partition);
    if (!g) return false;
    SetExfat(g->spc);
    return true;
  }
  if (partition.fsKind == kFsNtfs) {
    const std::uint32_t spc = ::ambrel::SectorsPerCluster(partition);
    std::vector<std::uint8_t> bitmap;
    if (spc == 0 || !LoadNtfsClusterBitmap(partition, nullptr, bitmap)) return false;
    const std::uint64_t total =
        ByteCursor(partition.bootSector.data(), partition.bootSector.size()).U64(0x28).value_or(0);
    SetNtfs(partition.startLba, spc, total / spc, std::move(bitmap));
    return true;
  }
  if (partition.fsKind == kFsFat16 || partition.fsKind == kFsFat32) {
    auto g = FatGeometryOf(partition);
    std::vector<std::uint8_t> fat;
    if (!g || !LoadFatCopy(partition, fat)) return false;
    SetFat(g->dataStart, g->spc, g->clusterCount, g->EntryBits(), std::move(fat));
    return true;
  }
  return false;
}

void FreeSpaceMap::SetNtfs(std::uint64_t partStart, std::uint32_t spc, std::uint64_t clusters,
                           std::vector<std::uint8_t> bitmap) {
  fsKind_ = kFsNtfs;
  dataStart_ = partStart;
  spc_ = spc;
  clusters_ = clusters;
  map_ = std::move(bitmap);
}

void FreeSpaceMap::SetFat(std::uint64_t dataStart, std::uint32_t spc, std::uint64_t clusters,
                          unsigned entryBits, std::vector<std::uint8_t> fat) {
  fsKind_ = entryBits == 32 ? kFsFat32 : kFsFat16;
  dataStart_ = dataStart;
  spc_ = spc;
  clusters_ = clusters;
  entryBits_ = entryBits;
  map_ = std::move(fat);
}

void FreeSpaceMap::SetExfat(std::uint32_t spc) {
  fsKind_ = kFsExfat;
  spc_ = spc;
}

bool FreeSpaceMap::ClusterFree(std::uint64_t cluster) const {
  if (fsKind_ == kFsNtfs) {
    // Clusters beyond the bitmap cannot be told free.
    const std::uint64_t byte = cluster / 8;
    return cluster < clusters_ && byte < map_.size() && ((map_[byte] >> (cluster % 8)) & 1) == 0;
  }
  // FAT: cluster numbers from 2; an entry outside the loaded FAT is unknown.
  const FatEntries entries(map_, entryBits_ == 32);
  if (entryBits_ == 12) {
    const std::uint64_t at = cluster * 3 / 2;
    if (at + 1 >= map_.size()) return false;
    const std::uint32_t pair = map_[at] | (std::uint32_t(map_[at + 1]) << 8);
    return ((cluster & 1) ? pair >> 4 : pair & 0xFFF) == 0;
  }
  return entries.Contains(cluster) && entries.Next(cluster) == 0;
}

bool FreeSpaceMap::IsFreeSector(std::uint64_t lba) const {
  if (fsKind_ == kFsExfat) return true;
  if (spc_ == 0) return false;
  if (lba < dataStart_) return fsKind_ != kFsNtfs;
  const std::uint64_t index = (lba - dataStart_) / spc_;
  if (fsKind_ == kFsNtfs) return ClusterFree(index);
  if (index >= clusters_) return true;
  return ClusterFree(index + 2);
}

std::uint64_t FreeSpaceMap::FreeRunSectors(std::uint64_t lba, std::uint64_t limit) const {
  if (fsKind_ == kFsExfat) return limit;
  if (spc_ == 0 || !IsFreeSector(lba)) return 0;
  if (lba < dataStart_) return std::min(limit, dataStart_ - lba);
  // To the end of the hit's cluster, then whole clusters while they are free.
  const std::uint64_t intoCluster = (lba - dataStart_) % spc_;
  std::uint64_t run = spc_ - intoCluster;
  while (run < limit && IsFreeSector(lba + run)) run += spc_;
  return std::min(run, limit);
}

bool FreeSpaceMap::ChunkHasFreeCluster(std::uint64_t chunkLba) const {
  const std::uint64_t end = chunkLba + kChunkSectors;  // exclusive
  if (fsKind_ != kFsNtfs) {
    const std::uint64_t dataEnd = dataStart_ + clusters_ * spc_;
    if (chunkLba <= dataStart_ || end - 1 >= dataEnd) return true;
  }
  if (end <= dataStart_) return false;
  const std::uint64_t from = chunkLba > dataStart_ ? (chunkLba - dataStart_) / spc_ : 0;
  const std::uint64_t to = (end - 1 - dataStart_) / spc_;
  const std::uint64_t base = fsKind_ == kFsNtfs ? 0 : 2;
  for (std::uint64_t c = from; c <= to && c < clusters_; ++c)
    if (ClusterFree(c + base)) return true;
  return false;
}

std::vector<std::uint64_t> FreeSpaceMap::FreeChunks(std::uint64_t start, std::uint64_t sectors) const {
  std::vector<std::uint64_t> out;
  if (sectors == 0) return out;
  // Up to the chunk that holds the last sector: the one after it lies
  // wholly outside the partition.
  const std::uint64_t last = ChunkFloor(start + sectors - 1);
  for (std::uint64_t lba = ChunkFloor(start); lba <= last; lba += kChunkSectors) {
    if (fsKind_ == kFsExfat || (spc_ != 0 && ChunkHasFreeCluster(lba))) out.push_back(lba);
  }
  return out;
}

}  // namespace ambrel
