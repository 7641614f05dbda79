// Recognition of an exFAT boot sector (sector 0 of the main boot region or
// sector 12, the first of the backup region): a pure test on one sector.
#pragma once

#include "common/byte_cursor.h"

namespace ambrel {

// 0x55AA end mark; 0xEB at 0 or 0x90 at 2; "EXFAT" at 3; bytes-per-sector
// shift (byte 108) = 9; sectors-per-cluster shift (byte 109) at most 16.
bool IsExfatBootSector(ByteSpan sector);

}  // namespace ambrel
