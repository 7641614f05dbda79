#include "fs/ntfs/ntfs_boot_sector.h"

#include "fs/boot_probe.h"

namespace ambrel {

bool IsNtfsBootSector(ByteSpan sector) { return JudgeNtfsBootSector(sector, 0).IsVolume(); }

}  // namespace ambrel
