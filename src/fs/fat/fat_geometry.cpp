#include "fs/fat/fat_geometry.h"

#include "common/byte_cursor.h"

namespace ambrel {

std::optional<FatGeometry> DecodeFatGeometry(std::span<const std::uint8_t> bootSector,
                                             std::uint64_t startLba) {
  ByteCursor boot(bootSector);
  if (boot.size() < 512) return std::nullopt;
  FatGeometry g;
  g.spc = boot.UncheckedU8(13);
  g.reservedSectors = boot.UncheckedU16(14);
  g.fatCount = boot.UncheckedU8(16);
  g.rootEntries = boot.UncheckedU16(17);
  std::uint32_t fat16Size = boot.UncheckedU16(22);
  g.fat32 = fat16Size == 0;
  g.fatSectors = g.fat32 ? boot.UncheckedU32(36) : fat16Size;
  g.totalSectors = boot.UncheckedU32(32);
  if (g.totalSectors == 0) g.totalSectors = boot.UncheckedU16(19);
  g.rootCluster = g.fat32 ? boot.UncheckedU32(44) : 0;
  if (g.spc == 0) return std::nullopt;
  std::uint64_t rootDirSectors = (std::uint64_t(g.rootEntries) * 32 + 511) / 512;
  g.partitionStart = startLba;
  g.fatStart = startLba + g.reservedSectors;
  g.rootStart = g.fatStart + std::uint64_t(g.fatCount) * g.fatSectors;
  g.dataStart = g.rootStart + rootDirSectors;
  std::uint64_t end = startLba + g.totalSectors;
  if (g.dataStart >= end) return std::nullopt;
  g.clusterCount = (end - g.dataStart) / g.spc;
  return g;
}

std::optional<FatGeometry> FatGeometryOf(const PartitionInfo& partition) {
  return DecodeFatGeometry(partition.bootSector, partition.startLba);
}

std::uint32_t FatEntries::Next(std::uint64_t cluster) const {
  if (!Contains(cluster)) return 0;
  ByteCursor c(bytes_);
  return fat32_ ? c.UncheckedU32(cluster * 4) : c.UncheckedU16(cluster * 2);
}

bool IsFatEndOfChain(std::uint32_t value, bool fat32) {
  return fat32 ? (value & 0x0FFFFFFF) >= 0x0FFFFFF8 : value >= 0xFFF8;
}

}  // namespace ambrel
