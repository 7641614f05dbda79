#include "deepscan/organise/real_volumes.h"

#include "device/device_enum.h"
#include "fs/boot_probe.h"

namespace ambrel {

std::vector<DeviceInfo> RealVolumeRows(const PartitionInfo& scanned, const DeviceLists& known) {
  const std::uint64_t first = scanned.startLba;
  const std::uint64_t end = first + scanned.sectorCount + 1;  // the end itself counts
  std::vector<DeviceInfo> rows;
  if (scanned.diskNumber >= 0 && known.VolumesInRange(rows, scanned.diskNumber, first, end)) return rows;
  rows.clear();
  DiskDescription description;
  if (scanned.source) {
    DiskHandle disk = HandleForDevice(scanned.source, scanned.diskPath);
    DescribeOpenDisk(scanned.diskPath, disk, description, JudgeSector, &known);
  } else if (scanned.diskPath.empty() || !DescribeDisk(scanned.diskPath, description, JudgeSector, nullptr, &known)) {
    return rows;
  }
  for (DeviceInfo& v : description.volumes)
    if (v.fsKind != kFsUnknown && v.startLba >= first && v.startLba < end) rows.push_back(std::move(v));
  return rows;
}

}  // namespace ambrel
