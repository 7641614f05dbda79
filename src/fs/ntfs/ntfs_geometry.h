// The few boot-sector fields the NTFS reader uses, taken from the boot sector
// copy kept in the partition record.
#pragma once

#include <cstdint>

#include "catalog/partition_info.h"

namespace ambrel {

// 512-byte sectors per cluster from boot bytes 11-13 (the probe's rule:
// byte 13 of 1..128 or 0xF4..0xFF, scaled by the sector size); 0 when not
// valid.
std::uint32_t SectorsPerCluster(const BootSector& boot);
inline std::uint32_t SectorsPerCluster(const PartitionInfo& p) {
  return SectorsPerCluster(p.bootSector);
}

std::uint64_t MftCluster(const BootSector& boot);
std::uint64_t MftMirrorCluster(const BootSector& boot);

// Absolute LBA of record 0 of the MFT (or of its mirror copy); false when
// the sectors-per-cluster field is invalid or the address overflows.
bool MftStartLba(const BootSector& boot, std::uint64_t startLba, bool mirror, std::uint64_t& lba);

}  // namespace ambrel
