#include "fs/ntfs/ntfs_geometry.h"

#include "common/byte_cursor.h"
#include "fs/boot_probe.h"
#include "fs/ntfs/ntfs_layout.h"

namespace ambrel {

std::uint32_t SectorsPerCluster(const BootSector& boot) {
  const std::uint32_t bytesPerSector = std::uint32_t{boot[11]} | std::uint32_t{boot[12]} << 8;
  return NtfsClusterSectors(boot[kBootSectorsPerCluster], bytesPerSector);
}

std::uint64_t MftCluster(const BootSector& boot) {
  return ByteCursor(boot.data(), boot.size()).U64(kBootMftCluster).value_or(0);
}

std::uint64_t MftMirrorCluster(const BootSector& boot) {
  return ByteCursor(boot.data(), boot.size()).U64(kBootMirrorCluster).value_or(0);
}

bool MftStartLba(const BootSector& boot, std::uint64_t startLba, bool mirror, std::uint64_t& lba) {
  const std::uint32_t spc = SectorsPerCluster(boot);
  const std::uint64_t cluster = mirror ? MftMirrorCluster(boot) : MftCluster(boot);
  if (spc == 0 || cluster > (~std::uint64_t{0} - startLba) / spc) return false;
  lba = startLba + cluster * spc;
  return true;
}

}  // namespace ambrel
