// Field rules shared by the NTFS and FAT boot-sector tests (the BIOS
// parameter block that both inherit from DOS). `sector` must hold 512 bytes.
#pragma once

#include <cstdint>

#include "common/byte_cursor.h"

namespace ambrel {

inline bool HasBootSignature(const ByteCursor& sector) {
  return sector.UncheckedU8(510) == 0x55 && sector.UncheckedU8(511) == 0xAA;
}

inline bool IsValidBytesPerSector(std::uint16_t bytes) {
  return bytes == 512 || bytes == 1024 || bytes == 2048 || bytes == 4096;
}

inline bool IsValidSectorsPerCluster(std::uint8_t spc) {
  return spc != 0 && (spc & (spc - 1)) == 0;  // 1, 2, 4, ... 128
}

// 63 sectors per track (u16 at 24) or 255 heads (u16 at 26).
inline bool HasUsualGeometry(const ByteCursor& sector) {
  return sector.UncheckedU16(24) == 63 || sector.UncheckedU16(26) == 255;
}

}  // namespace ambrel
