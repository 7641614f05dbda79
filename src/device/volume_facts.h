// Filling a volume row from what the system knows about its file system
// (libblkid's facts) and from the volume's own boot sector. Shared by the
// machine enumeration and the description of one disk or image.
#pragma once

#include "device/disk_handle.h"
#include "device/partition_info.h"
#include "platform/blkid_probe.h"

namespace ambrel {

// With facts: label ("本地磁盘" when empty), serial, file-system name and
// kind; a known kind also takes sector 0 of the volume as its boot sector
// (or, when that read fails, the sector a DetectFsKind of the same kind
// decides; else the kind becomes 0). Without facts: ProbePartition decides.
// Finally the display name is built.
void FillVolumeFacts(DeviceInfo& row, DiskHandle& volume, const BlkidFacts* facts);

}  // namespace ambrel
