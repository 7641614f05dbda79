// The volumes the system knows in a scanned area: the mounted volumes of
// the scanned disk, or, for a disk image or a disk the machine's lists do
// not hold, the volumes its own partition table (or boot sector) describes.
#pragma once

#include <vector>

#include "catalog/partition_info.h"
#include "device/device_enum.h"
#include "device/device_info.h"

namespace ambrel {

// Volume rows whose start lies in [scanned start, scanned start + sectors]
// and whose file system is known.
// `known`: the machine's lists from the front end's enumeration (empty for
// an image). The table is read through the scanned partition's device.
std::vector<DeviceInfo> RealVolumeRows(const PartitionInfo& scanned, const DeviceLists& known);

}  // namespace ambrel
