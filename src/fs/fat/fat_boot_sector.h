// Recognition of FAT16 (and FAT12) and FAT32 boot sectors: pure tests on one
// 512-byte sector.
#pragma once

#include <string>

#include "common/byte_cursor.h"

namespace ambrel {

// 0x55AA end mark; 0xEB at 0 or 0x90 at 2; 512..4096 bytes per sector; a
// power-of-two cluster size up to 128 sectors; 1 or 2 FATs; media 0xF8;
// 63 sectors per track or 255 heads; "FAT1" at 54 and '6' at 58.
bool IsFat16BootSector(ByteSpan sector);
// 0x55AA end mark; "FAT3" at 82 and '2' at 86; 0xEB or 0xE9 at 0; the same
// bytes-per-sector, cluster, FAT count, media and geometry rules.
bool IsFat32BootSector(ByteSpan sector);

// The 11-byte volume label of a FAT16 (offset 43) or FAT32 (offset 71) boot
// sector with an extended boot signature 0x29, blanks trimmed; empty when
// there is none or it reads "NO NAME".
std::string FatBootSectorLabel(ByteSpan sector, bool fat32);

}  // namespace ambrel
