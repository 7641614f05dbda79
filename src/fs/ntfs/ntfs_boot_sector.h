// Recognition of an NTFS boot sector (the volume's sector 0, or its backup in
// the volume's last sector). A pure test on one 512-byte sector.
#pragma once

#include "common/byte_cursor.h"

namespace ambrel {

// True when the sector has the 0x55AA end mark, a jump (0xEB at 0 or 0x90 at
// 2), 512..4096 bytes per sector, a power-of-two cluster size up to 128
// sectors, media 0xF8, the usual geometry (63 sectors per track or 255
// heads) and 0xF6 at byte 64. The OEM name is not examined. Shorter spans
// are never a boot sector.
bool IsNtfsBootSector(ByteSpan sector);

}  // namespace ambrel
