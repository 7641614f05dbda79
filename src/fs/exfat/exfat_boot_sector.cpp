#include "fs/exfat/exfat_boot_sector.h"

#include "fs/boot_sector_rules.h"

namespace ambrel {

bool IsExfatBootSector(ByteSpan sector) {
  if (sector.size() < 512) return false;
  ByteCursor c(sector.first(512));
  return HasBootSignature(c) && (c.UncheckedU8(0) == 0xEB || c.UncheckedU8(2) == 0x90) &&
         c.Matches(3, "EXFAT") && c.UncheckedU8(108) == 9 && c.UncheckedU8(109) <= 16;
}

}  // namespace ambrel
