// The volumes the system knows in a scanned area: the mounted volumes of
// the scanned disk, or, for a disk image or a disk the machine's lists do
// not hold, the volumes its own partition table (or boot sector) describes.
#pragma once

#include <vector>

#include "catalog/partition_info.h"
#include "device/device_info.h"

namespace ambrel {

// Volume rows whose start lies in [scanned start, scanned start + sectors]
// and whose file system is known.
std::vector<DeviceInfo> RealVolumeRows(const PartitionInfo& scanned);

}  // namespace ambrel
