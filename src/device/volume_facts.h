// Filling a volume row from what the system knows about its file system
// (libblkid's facts) and from the volume's own boot sector. Shared by the
// machine enumeration and the description of one disk or image.
#pragma once

#include "device/disk_handle.h"
#include "device/device_info.h"
#include "device/sector_verdict.h"
#include "platform/blkid_probe.h"

namespace ambrel {

// With facts: label ("本地磁盘" when empty), serial and file-system name
// from the system; the kind and boot sector come from DetectFsKind whatever
// the volume's size (kind 0 when its boot sectors are not readable here).
// Without facts: ProbePartition decides (with `anySize`, small volumes are
// probed too: a disk described from its own contents). Finally the display
// name is built.
void FillVolumeFacts(DeviceInfo& row, DiskHandle& volume, const BlkidFacts* facts,
                     SectorJudge judge, bool anySize = false);

}  // namespace ambrel
