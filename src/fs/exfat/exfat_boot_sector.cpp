#include "fs/exfat/exfat_boot_sector.h"

#include "fs/boot_probe.h"

namespace ambrel {

bool IsExfatBootSector(ByteSpan sector) { return JudgeExfatBootSector(sector, 0).IsVolume(); }

}  // namespace ambrel
