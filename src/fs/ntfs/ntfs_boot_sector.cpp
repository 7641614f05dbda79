#include "fs/ntfs/ntfs_boot_sector.h"

#include "fs/boot_sector_rules.h"

namespace ambrel {

bool IsNtfsBootSector(ByteSpan sector) {
  if (sector.size() < 512) return false;
  ByteCursor c(sector.first(512));
  return HasBootSignature(c) && (c.UncheckedU8(0) == 0xEB || c.UncheckedU8(2) == 0x90) &&
         IsValidBytesPerSector(c.UncheckedU16(11)) &&
         IsValidSectorsPerCluster(c.UncheckedU8(13)) && c.UncheckedU8(21) == 0xF8 &&
         HasUsualGeometry(c) && c.UncheckedU8(64) == 0xF6;
}

}  // namespace ambrel
