// Recognition of an NTFS boot sector (the volume's sector 0, or its backup in
// the volume's last sector). A pure test on one 512-byte sector.
#pragma once

#include "common/byte_cursor.h"

namespace ambrel {

// A consistent NTFS boot sector (fs/boot_probe.h); shorter spans never are.
bool IsNtfsBootSector(ByteSpan sector);

}  // namespace ambrel
