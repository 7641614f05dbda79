#include "fs/exfat/exfat_geometry.h"

#include "common/byte_cursor.h"

namespace ambrel {

std::optional<ExfatGeometry> DecodeExfatGeometry(std::span<const std::uint8_t> bootSector,
                                                 std::uint64_t startLba) {
  ByteCursor boot(bootSector);
  if (boot.size() < 512) return std::nullopt;
  ExfatGeometry g;
  g.partitionStart = startLba;
  g.fatOffset = boot.UncheckedU32(80);
  g.fatLength = boot.UncheckedU32(84);
  g.heapOffset = boot.UncheckedU32(88);
  g.clusterCount = boot.UncheckedU32(92);
  g.rootCluster = boot.UncheckedU32(96);
  if (boot.UncheckedU8(108) != 9 || boot.UncheckedU8(109) > 16) return std::nullopt;
  g.shift = boot.UncheckedU8(109);
  g.spc = 1u << g.shift;
  return g;
}

std::optional<ExfatGeometry> ExfatGeometryOf(const PartitionInfo& partition) {
  return DecodeExfatGeometry(partition.bootSector, partition.startLba);
}

}  // namespace ambrel
