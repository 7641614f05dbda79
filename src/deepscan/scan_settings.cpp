#include "deepscan/scan_settings.h"

#include "fs/exfat/exfat_geometry.h"

namespace ambrel {

DeepScanSettings DefaultScanSettings(const PartitionInfo& partition, int mode) {
  DeepScanSettings s;
  s.partStart = partition.startLba;
  s.partSectors = partition.sectorCount;
  s.priorityStart = partition.startLba;
  s.options = {0, 1, 1, 1, 1, 1, 0, 1, 0, 0, 1};
  if (IsFreeSpaceMode(mode)) {
    s.SetOption(kOptClusterAligned, 1);
    s.SetOption(33, 2);
  }
  return s;
}

DeepScanSettings NextScanSettings(const DeepScanSettings& previous, const PartitionInfo& partition) {
  DeepScanSettings s = previous;
  s.partStart = partition.startLba;
  s.partSectors = partition.sectorCount;
  const std::uint64_t end = s.partStart + s.partSectors;
  const bool inside = s.priorityStart >= s.partStart && s.priorityStart <= end &&
                      s.priorityLength <= end - s.priorityStart;
  if (!inside) {
    s.priorityStart = s.partStart;
    s.priorityLength = 0;
  }
  return s;
}

int EffectiveScanMode(const PartitionInfo& partition, int mode) {
  if (!IsFreeSpaceMode(mode)) return mode;
  switch (partition.fsKind) {
    case kFsNtfs:
    case kFsFat16:
    case kFsFat32:
      return partition.bootSector[13] != 0 ? mode : kModePartitionFiles;
    case kFsExfat:
      // A cluster shift of 0 is a valid geometry (512-byte clusters); what
      // matters is that the boot sector decodes.
      return ExfatGeometryOf(partition) ? mode : kModePartitionFiles;
    default:
      return kModePartitionFiles;
  }
}

bool IsLargeWholeDisk(const PartitionInfo& partition) {
  const std::uint64_t limit = partition.removable ? 0x32000000ull : 0x9600000ull;
  return partition.startLba == 0 && partition.sectorCount == partition.diskSectorCount &&
         partition.sectorCount > limit;
}

}  // namespace ambrel
