#include "fs/fat/fat_geometry.h"

#include "common/byte_cursor.h"

namespace ambrel {

std::optional<FatGeometry> DecodeFatGeometry(std::span<const std::uint8_t> bootSector,
                                             std::uint64_t startLba) {
  ByteCursor boot(bootSector);
  if (boot.size() < 512) return std::nullopt;
  // Every count of the boot sector is in the volume's own sectors; the
  // reader addresses 512-byte sectors.
  const std::uint32_t bytesPerSector = boot.UncheckedU16(11);
  if (bytesPerSector < 512 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1)) != 0)
    return std::nullopt;
  const std::uint32_t scale = bytesPerSector / 512;
  FatGeometry g;
  g.spc = std::uint32_t(boot.UncheckedU8(13)) * scale;
  g.reservedSectors = std::uint32_t(boot.UncheckedU16(14)) * scale;
  g.fatCount = boot.UncheckedU8(16);
  g.rootEntries = boot.UncheckedU16(17);
  std::uint32_t fat16Size = boot.UncheckedU16(22);
  g.fat32 = fat16Size == 0;
  g.fatSectors = std::uint64_t(g.fat32 ? boot.UncheckedU32(36) : fat16Size) * scale;
  g.totalSectors = boot.UncheckedU16(19);
  if (g.totalSectors == 0) g.totalSectors = boot.UncheckedU32(32);
  g.totalSectors *= scale;
  g.rootCluster = g.fat32 ? boot.UncheckedU32(44) : 0;
  if (g.spc == 0) return std::nullopt;
  const std::uint64_t rootBytes = std::uint64_t(g.rootEntries) * 32;
  std::uint64_t rootDirSectors = (rootBytes + bytesPerSector - 1) / bytesPerSector * scale;
  g.partitionStart = startLba;
  g.fatStart = startLba + g.reservedSectors;
  g.rootStart = g.fatStart + std::uint64_t(g.fatCount) * g.fatSectors;
  g.dataStart = g.rootStart + rootDirSectors;
  std::uint64_t end = startLba + g.totalSectors;
  if (g.dataStart >= end) return std::nullopt;
  g.clusterCount = (end - g.dataStart) / g.spc;
  g.fat12 = !g.fat32 && g.clusterCount < kMinFat16Clusters;
  return g;
}

std::optional<FatGeometry> FatGeometryOf(const PartitionInfo& partition) {
  return DecodeFatGeometry(partition.bootSector, partition.startLba);
}

std::uint64_t FatEntries::EntryCount() const {
  switch (bits_) {
    case 12: return bytes_.size() * 2 / 3;
    case 16: return bytes_.size() / 2;
    default: return bytes_.size() / 4;
  }
}

std::uint32_t FatEntries::Next(std::uint64_t cluster) const {
  if (!Contains(cluster)) return 0;
  ByteCursor c(bytes_);
  if (bits_ == 32) return c.UncheckedU32(cluster * 4);
  if (bits_ == 16) return c.UncheckedU16(cluster * 2);
  // Two 12-bit entries share three bytes; the last entry's pair may be cut.
  const std::uint64_t at = cluster + cluster / 2;
  const std::uint32_t pair = c.UncheckedU8(at) | (std::uint32_t(c.U8(at + 1).value_or(0)) << 8);
  const std::uint32_t value = (cluster & 1) ? pair >> 4 : pair & 0xFFF;
  // The reserved values 0xFF7 (bad) to 0xFFF (end of chain) read as their
  // 16-bit forms, so the FAT16 rules apply.
  return value >= 0xFF7 ? value | 0xF000 : value;
}

bool IsFatEndOfChain(std::uint32_t value, bool fat32) {
  return fat32 ? (value & 0x0FFFFFFF) >= 0x0FFFFFF8 : value >= 0xFFF8;
}

}  // namespace ambrel
