// Recognition of an exFAT boot sector (sector 0 of the main boot region or
// sector 12, the first of the backup region): a pure test on one sector.
#pragma once

#include "common/byte_cursor.h"

namespace ambrel {

// A consistent exFAT boot sector (fs/boot_probe.h).
bool IsExfatBootSector(ByteSpan sector);

}  // namespace ambrel
