// The few boot-sector fields the NTFS reader uses, taken from the boot sector
// copy kept in the partition record.
#pragma once

#include <cstdint>

#include "catalog/partition_info.h"
#include "fs/boot_probe.h"

namespace ambrel {

// 512-byte sectors per cluster from boot bytes 11-13 (the probe's rule:
// byte 13 of 1..128 or 0xF4..0xFF, scaled by the sector size); 0 when not
// valid.
std::uint32_t SectorsPerCluster(const BootSector& boot);
inline std::uint32_t SectorsPerCluster(const PartitionInfo& p) {
  return SectorsPerCluster(p.bootSector);
}

// The FILE record size (boot byte 0x40) and the INDX record size (byte
// 0x44) with the reason when unusable (fs/boot_probe.h).
NtfsRecordSize MftRecordSize(const BootSector& boot);
NtfsRecordSize IndexRecordSize(const BootSector& boot);
// Bytes of one FILE record; 0 when the boot sector's field is unusable.
inline std::uint32_t MftRecordBytes(const BootSector& boot) { return MftRecordSize(boot).bytes; }
inline std::uint32_t MftRecordBytes(const PartitionInfo& p) { return MftRecordBytes(p.bootSector); }
// The same in 512-byte sectors (a record always holds whole ones).
inline std::uint32_t MftRecordSectors(const BootSector& boot) { return MftRecordBytes(boot) / 512; }

// Writes byte 0x40 (and 0x44) for a record size of `bytes` (a power of two,
// 512..65536) as a negative power: the boot sector a deep scan makes for a
// volume it rebuilt from loose records.
void SetMftRecordBytes(BootSector& boot, std::uint32_t bytes);

std::uint64_t MftCluster(const BootSector& boot);
std::uint64_t MftMirrorCluster(const BootSector& boot);

// Absolute LBA of record 0 of the MFT (or of its mirror copy); false when
// the sectors-per-cluster field is invalid or the address overflows.
bool MftStartLba(const BootSector& boot, std::uint64_t startLba, bool mirror, std::uint64_t& lba);

}  // namespace ambrel
