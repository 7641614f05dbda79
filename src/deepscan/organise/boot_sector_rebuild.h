// Lost partitions from the structures that describe them: a boot sector
// found anywhere on the disk (or its backup copy), and the entries of an
// extended boot record. The tests read the disk through the caller's
// handle (absolute LBAs) on the organising thread.
#pragma once

#include <cstdint>
#include <optional>

#include "catalog/partition_info.h"
#include "common/byte_cursor.h"
#include "device/disk_handle.h"

namespace ambrel {

// The FAT32 backup boot sector lies 6 sectors after the volume start; the
// exFAT backup boot region starts 12 sectors after it.
inline constexpr std::uint64_t kFat32BackupBootOffset = 6;
inline constexpr std::uint64_t kExfatBackupRegionOffset = 12;

// The first sector of a FAT as a freshly formatted or used FAT holds it:
// entry 0 is the media mark (0x0FFFFFF8 / 0xFFF8) and most of the entries
// that follow are free, end-of-chain or point at the next cluster.
bool LooksLikeFat32Sector(ByteSpan sector);
bool LooksLikeFat16Sector(ByteSpan sector);

// Builds the partition that the boot sector `boot` found at `lba` describes
// (an NTFS, FAT16, FAT32 or exFAT boot sector, or the backup copy of one)
// after checking what it points at on the disk: the MFT, the FAT, the exFAT
// root and FAT. Fills start, size, kind, boot sector, label and origin.
bool BuildFromBootSector(DiskHandle& disk, ByteSpan boot, std::uint64_t lba, PartitionInfo& out);

// One entry of a partition table sector (MBR or EBR).
struct TableEntry {
  std::uint8_t status = 0;
  std::uint8_t type = 0;
  std::uint32_t start = 0;
  std::uint32_t sectors = 0;
};
// Entry `i` (0..3) when it passes the entry test of the sector classifier:
// type 1..28, a start, at least 16384 sectors, status 0 or 0x80.
std::optional<TableEntry> UsableTableEntry(ByteSpan sector, unsigned i);
// The file-system kind a partition type names (exFAT or NTFS for type 7,
// told apart by the boot sector's "EXFAT").
std::int32_t KindOfPartitionType(std::uint8_t type, ByteSpan boot);
// The partition an EBR entry describes, kept only when its boot sector
// passes the NTFS, FAT32, FAT16 or exFAT test.
bool BuildFromTableEntry(DiskHandle& disk, std::uint64_t ebrLba, const TableEntry& entry,
                         PartitionInfo& out);

// The label of a built partition by the reader of its kind ("本地磁盘" when
// the volume has none).
void ReadBuiltLabel(DiskHandle& disk, PartitionInfo& partition);

}  // namespace ambrel
