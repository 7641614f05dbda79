#include "catalog/partition_info.h"

namespace ambrel {

int MakePartitionInfo(const DeviceInfo& row, PartitionInfo& out) {
  out = PartitionInfo();
  out.removable = row.removable;
  out.startLba = row.startLba;
  out.sectorCount = row.sectorCount;
  out.displayName = row.displayName;
  out.freeSectors = row.freeSectors;
  out.fsKind = row.fsKind;
  out.volumePath = row.volumePath;
  out.volumeLabel = row.volumeLabel;
  out.fsName = row.fsName;
  out.volumeSerial = row.volumeSerial;
  out.bootSector = row.bootSector;
  out.diskName = row.diskName;
  out.diskPath = row.diskPath;
  out.diskSectorCount = row.diskSectorCount;
  out.diskNumber = row.diskNumber;
  return row.kind;
}

bool OpenPartition(const PartitionInfo& partition, DiskHandle& out) {
  if (partition.source) {
    out = HandleForDevice(partition.source, partition.displayName);
    if (partition.sectorCount == 0) {
      out = DiskHandle{};
      return false;
    }
    out.reopenPath = partition.diskPath;
    out.lastLba = LastLbaOf(partition.startLba, partition.sectorCount);
    return true;
  }
  return OpenVolumeRange(partition.diskPath, partition.startLba, partition.sectorCount,
                         partition.displayName, out);
}

}  // namespace ambrel
