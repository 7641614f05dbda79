// Recognition of FAT16 (and FAT12) and FAT32 boot sectors: pure tests on one
// 512-byte sector.
#pragma once

#include <string>

#include "common/byte_cursor.h"

namespace ambrel {

// A consistent FAT boot sector (fs/boot_probe.h) with 12- or 16-bit FAT
// entries (the FAT16 family: the fixed root directory, the 16-bit FAT size).
bool IsFat16BootSector(ByteSpan sector);
// A consistent FAT boot sector with 32-bit FAT entries.
bool IsFat32BootSector(ByteSpan sector);

// The 11-byte volume label of a FAT16 (offset 43) or FAT32 (offset 71) boot
// sector with an extended boot signature 0x29, blanks trimmed; empty when
// there is none or it reads "NO NAME".
std::string FatBootSectorLabel(ByteSpan sector, bool fat32);

}  // namespace ambrel
