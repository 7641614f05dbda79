#include "deepscan/scan_settings.h"

#include "fs/exfat/exfat_geometry.h"
#include "fs/fat/fat_geometry.h"
#include "fs/ntfs/ntfs_geometry.h"

namespace ambrel {

DeepScanSettings DefaultScanSettings(const PartitionInfo& partition, RecoveryMode mode) {
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

RecoveryMode EffectiveScanMode(const PartitionInfo& partition, RecoveryMode mode) {
  if (!IsFreeSpaceMode(mode)) return mode;
  switch (partition.fsKind) {
    // Free space is read from the volume's own allocation map, which needs
    // the volume's geometry.
    case kFsNtfs:
      return SectorsPerCluster(partition) != 0 ? mode : RecoveryMode::kPartitionFiles;
    case kFsFat16:
    case kFsFat32:
      return FatGeometryOf(partition) ? mode : RecoveryMode::kPartitionFiles;
    case kFsExfat:
      // A cluster shift of 0 is a valid geometry (512-byte clusters); what
      // matters is that the boot sector decodes.
      return ExfatGeometryOf(partition) ? mode : RecoveryMode::kPartitionFiles;
    default:
      return RecoveryMode::kPartitionFiles;
  }
}

bool IsLargeWholeDisk(const PartitionInfo& partition) {
  const std::uint64_t limit = partition.removable ? 0x32000000ull : 0x9600000ull;
  return partition.startLba == 0 && partition.sectorCount == partition.diskSectorCount &&
         partition.sectorCount > limit;
}

}  // namespace ambrel
