#include "deepscan/organise/boot_sector_rebuild.h"

#include <algorithm>
#include <array>

#include "device/device_enum.h"
#include "fs/exfat/exfat_boot_sector.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_boot_sector.h"
#include "fs/fat/fat_geometry.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "fs/ntfs/ntfs_volume.h"

namespace ambrel {
namespace {

using Sector = std::array<std::uint8_t, 512>;

bool ReadOne(DiskHandle& disk, std::uint64_t lba, Sector& out) {
  out.fill(0);
  return ReadSectors(disk, lba, 1, out.data());
}

void CopyBoot(ByteSpan boot, PartitionInfo& out) {
  std::fill(out.bootSector.begin(), out.bootSector.end(), 0);
  std::copy_n(boot.begin(), std::min<std::size_t>(boot.size(), out.bootSector.size()),
              out.bootSector.begin());
}

std::uint64_t NtfsTotalSectors(ByteSpan boot) { return ByteCursor(boot).U64(0x28).value_or(0); }

bool BuildNtfs(DiskHandle& disk, ByteSpan boot, std::uint64_t lba, PartitionInfo& out) {
  BootSector copy{};
  std::copy_n(boot.begin(), 512, copy.begin());
  const std::uint64_t total = NtfsTotalSectors(boot);
  std::uint64_t start = 0;
  if (CheckMftConsistency(copy, disk, lba)) {
    start = lba;
  } else if (total != 0 && lba >= total && CheckMftConsistency(copy, disk, lba - total)) {
    // The copy in the volume's last sector, `total` sectors after its start.
    start = lba - total;
  } else {
    return false;
  }
  out.fsKind = kFsNtfs;
  out.fsName = "NTFS";
  out.startLba = start;
  out.sectorCount = total;
  out.volumeSerial = ByteCursor(boot).U32(72).value_or(0);
  return true;
}

// Counts the entries of one FAT sector that a FAT holds in its first
// clusters: free, end of chain, or the next cluster.
unsigned PlausibleEntries(ByteSpan sector, bool fat32) {
  ByteCursor c(sector);
  unsigned good = 0;
  const unsigned last = fat32 ? 127 : 255;
  for (unsigned i = 2; i <= last; ++i) {
    std::uint32_t v = fat32 ? c.U32(i * 4u).value_or(1) : c.U16(i * 2u).value_or(1);
    if (fat32) v &= 0x0FFFFFFF;
    const bool end = fat32 ? v >= 0x0FFFFFF8 : v >= 0xFFF8;
    if (v == 0 || end || v == i + 1) ++good;
  }
  return good;
}

bool FatCopyPasses(DiskHandle& disk, std::uint64_t lba, bool fat32) {
  Sector s;
  if (!ReadOne(disk, lba, s)) return false;
  return fat32 ? LooksLikeFat32Sector(s) : LooksLikeFat16Sector(s);
}

// The FAT test with the volume starting at `start`: the first sector of the
// first FAT, or of the second copy when there are two.
bool FatAt(DiskHandle& disk, ByteSpan boot, std::uint64_t start) {
  auto g = DecodeFatGeometry(boot, start);
  if (!g || g->fatCount == 0) return false;
  if (FatCopyPasses(disk, g->fatStart, g->fat32)) return true;
  return g->fatCount == 2 && FatCopyPasses(disk, g->fatStart + g->fatSectors, g->fat32);
}

bool BuildFat(DiskHandle& disk, ByteSpan boot, std::uint64_t lba, PartitionInfo& out) {
  std::uint64_t start = 0;
  if (FatAt(disk, boot, lba)) {
    start = lba;
  } else if (lba >= kFat32BackupBootOffset && FatAt(disk, boot, lba - kFat32BackupBootOffset)) {
    start = lba - kFat32BackupBootOffset;
  } else {
    return false;
  }
  auto g = DecodeFatGeometry(boot, start);
  if (!g) return false;
  out.fsKind = g->fat32 ? kFsFat32 : kFsFat16;
  out.fsName = g->fat32 ? "FAT32" : "FAT16";
  out.startLba = start;
  out.sectorCount = g->totalSectors;
  ByteCursor c(boot);
  out.volumeSerial = c.U32(g->fat32 ? 67 : 39).value_or(0);
  return true;
}

bool BuildExfat(DiskHandle& disk, ByteSpan boot, std::uint64_t lba, PartitionInfo& out) {
  std::uint64_t start = 0;
  if (IsExfatVolumeAt(boot, disk, lba)) {
    start = lba;
  } else if (lba >= kExfatBackupRegionOffset &&
             IsExfatVolumeAt(boot, disk, lba - kExfatBackupRegionOffset)) {
    start = lba - kExfatBackupRegionOffset;
  } else {
    return false;
  }
  MakeExfatPartition(out, boot, disk, start);
  return true;
}

}  // namespace

bool LooksLikeFat32Sector(ByteSpan sector) {
  ByteCursor c(sector);
  if ((c.U32(0).value_or(0) & 0x0FFFFFFF) != 0x0FFFFFF8) return false;
  return PlausibleEntries(sector, true) > 96;
}

bool LooksLikeFat16Sector(ByteSpan sector) {
  ByteCursor c(sector);
  if (c.U16(0).value_or(0) != 0xFFF8) return false;
  return PlausibleEntries(sector, false) > 192;
}

void ReadBuiltLabel(DiskHandle& disk, PartitionInfo& p) {
  if (p.fsKind == kFsNtfs) {
    p.volumeLabel.clear();
    ReadNtfsVolumeLabel(disk, p);
  } else if (p.fsKind == kFsFat16 || p.fsKind == kFsFat32) {
    p.volumeLabel = FatVolumeLabel(p, disk);
  } else if (p.fsKind == kFsExfat && p.volumeLabel.empty()) {
    ReadExfatVolumeLabel(p, disk);
  }
  if (p.volumeLabel.empty()) p.volumeLabel = kDefaultVolumeLabel;
}

bool BuildFromBootSector(DiskHandle& disk, ByteSpan boot, std::uint64_t lba, PartitionInfo& out) {
  if (boot.size() < 512) return false;
  boot = boot.first(512);
  PartitionInfo built;
  CopyBoot(boot, built);
  bool ok = false;
  if (IsNtfsBootSector(boot)) ok = BuildNtfs(disk, boot, lba, built);
  else if (IsFat32BootSector(boot) || IsFat16BootSector(boot)) ok = BuildFat(disk, boot, lba, built);
  else if (IsExfatBootSector(boot)) ok = BuildExfat(disk, boot, lba, built);
  if (!ok || built.sectorCount == 0) return false;
  CopyBoot(boot, built);
  built.origin = built.startLba == lba ? kOriginBootSector : kOriginBackupBootSector;
  ReadBuiltLabel(disk, built);
  built.displayName = built.volumeLabel;
  out = std::move(built);
  return true;
}

std::optional<TableEntry> UsableTableEntry(ByteSpan sector, unsigned i) {
  if (i > 3) return std::nullopt;
  ByteCursor c(sector);
  const std::size_t at = 446 + 16u * i;
  if (!c.Contains(at, 16)) return std::nullopt;
  TableEntry e;
  e.status = c.UncheckedU8(at);
  e.type = c.UncheckedU8(at + 4);
  e.start = c.UncheckedU32(at + 8);
  e.sectors = c.UncheckedU32(at + 12);
  if (e.type < 1 || e.type > 0x1C || e.start == 0 || e.sectors < 16384) return std::nullopt;
  if (e.status != 0 && e.status != 0x80) return std::nullopt;
  return e;
}

std::int32_t KindOfPartitionType(std::uint8_t type, ByteSpan boot) {
  switch (type) {
    case 4: case 6: case 14: case 20: case 22: case 30:
      return kFsFat16;
    case 11: case 12: case 27: case 28:
      return kFsFat32;
    case 7:
      return ByteCursor(boot).Matches(3, "EXFAT") ? kFsExfat : kFsNtfs;
    case 23:
      return kFsNtfs;
    default:
      return kFsUnknown;
  }
}

namespace {

// The kind the boot sector itself names, tested in the order NTFS, FAT32,
// FAT16, exFAT; 0 when none passes.
std::int32_t KindOfBootSector(ByteSpan boot) {
  if (IsNtfsBootSector(boot)) return kFsNtfs;
  if (IsFat32BootSector(boot)) return kFsFat32;
  if (IsFat16BootSector(boot)) return kFsFat16;
  if (IsExfatBootSector(boot)) return kFsExfat;
  return kFsUnknown;
}

const char* FsNameOf(std::int32_t kind) {
  switch (kind) {
    case kFsNtfs: return "NTFS";
    case kFsFat32: return "FAT32";
    case kFsFat16: return "FAT16";
    case kFsExfat: return "exFAT";
    default: return "";
  }
}

}  // namespace

bool BuildFromTableEntry(DiskHandle& disk, std::uint64_t ebrLba, const TableEntry& entry,
                         PartitionInfo& out) {
  if (entry.type == 5 || entry.type == 15) return false;
  const std::uint64_t start = ebrLba + entry.start;
  Sector boot;
  if (!ReadOne(disk, start, boot)) return false;
  const std::int32_t judged = KindOfBootSector(boot);
  if (judged == kFsUnknown) return false;
  PartitionInfo built;
  CopyBoot(boot, built);
  // The boot sector decides when the type byte names another file system
  // (a FAT32 volume in a partition typed FAT16 is read as FAT32).
  std::int32_t kind = KindOfPartitionType(entry.type, boot);
  if (kind != judged) kind = judged;
  built.fsKind = kind;
  built.fsName = FsNameOf(kind);
  built.startLba = start;
  built.sectorCount = entry.sectors;
  built.origin = kOriginPartitionTable;
  ReadBuiltLabel(disk, built);
  built.displayName = built.volumeLabel;
  out = std::move(built);
  return true;
}

}  // namespace ambrel
