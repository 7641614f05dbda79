#include "fs/ntfs/ntfs_geometry.h"

#include "common/byte_cursor.h"
#include "fs/boot_probe.h"
#include "fs/ntfs/ntfs_layout.h"

namespace ambrel {

namespace {

std::uint32_t BytesPerSector(const BootSector& boot) {
  return std::uint32_t{boot[11]} | std::uint32_t{boot[12]} << 8;
}

std::uint32_t SectorsPerClusterOf(const BootSector& boot) {
  return NtfsClusterSectors(boot[kBootSectorsPerCluster], BytesPerSector(boot));
}

NtfsRecordSize RecordSizeAt(const BootSector& boot, std::size_t at) {
  const std::uint64_t clusterBytes = std::uint64_t{SectorsPerClusterOf(boot)} * 512;
  return DecodeNtfsRecordSize(boot[at], clusterBytes, BytesPerSector(boot));
}

}  // namespace

std::uint32_t SectorsPerCluster(const BootSector& boot) {
  return NtfsClusterSectors(boot[kBootSectorsPerCluster], BytesPerSector(boot));
}

NtfsRecordSize MftRecordSize(const BootSector& boot) { return RecordSizeAt(boot, kBootMftRecordSize); }
NtfsRecordSize IndexRecordSize(const BootSector& boot) { return RecordSizeAt(boot, kBootIndexRecordSize); }

void SetMftRecordBytes(BootSector& boot, std::uint32_t bytes) {
  int shift = 0;
  while (shift < 16 && (1u << shift) < bytes) ++shift;
  boot[kBootMftRecordSize] = static_cast<std::uint8_t>(256 - shift);
  if (boot[kBootIndexRecordSize] == 0) boot[kBootIndexRecordSize] = 0x01;
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
