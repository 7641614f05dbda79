// The boot-sector probe of a volume and the naming of volume rows.
#include <cctype>

#include "common/text.h"
#include "device/device_enum.h"
#include "device/volume_facts.h"
#include "fs/exfat/exfat_boot_sector.h"
#include "fs/fat/fat_boot_sector.h"
#include "fs/ntfs/ntfs_boot_sector.h"

namespace ambrel {
namespace {

const char* ProbeName(std::int32_t kind) {
  switch (kind) {
    case kFsNtfs: return "NTFS";
    case kFsFat16: return "FAT16";
    case kFsFat32: return "FAT32";
    case kFsExfat: return "exFat";
    default: return "";
  }
}

bool ReadBoot(DiskHandle& volume, std::uint64_t lba, BootSector& sector) {
  return ReadSectors(volume, lba, 1, sector.data());
}

}  // namespace

bool DetectFsKind(DiskHandle& volume, std::uint64_t sectors, std::int32_t& kind, BootSector& boot) {
  BootSector s{};
  kind = kFsUnknown;
  ReadBoot(volume, 0, s);
  bool fat16 = IsFat16BootSector(s), fat32 = IsFat32BootSector(s);
  bool ntfs = IsNtfsBootSector(s), exfat = IsExfatBootSector(s);
  if (fat16 || fat32 || ntfs || exfat) {
    kind = fat16 ? kFsFat16 : fat32 ? kFsFat32 : ntfs ? kFsNtfs : kFsExfat;
  }
  if (kind == kFsUnknown) {  // the FAT32 backup boot record
    ReadBoot(volume, 6, s);
    if (IsFat16BootSector(s)) kind = kFsFat16;
    if (IsFat32BootSector(s)) kind = kFsFat32;  // the later test wins
  }
  if (kind == kFsUnknown && sectors != 0) {  // the NTFS backup in the last sector
    ReadBoot(volume, sectors - 1, s);
    if (IsNtfsBootSector(s)) kind = kFsNtfs;
  }
  if (kind == kFsUnknown) {  // the exFAT backup boot region
    ReadBoot(volume, 12, s);
    if (IsExfatBootSector(s)) kind = kFsExfat;
  }
  if (kind == kFsUnknown) return false;
  boot = s;
  return true;
}

void ProbePartition(DeviceInfo& row, DiskHandle& volume) {
  if (row.sectorCount <= kProbeMinSectors) return;
  std::int32_t kind = kFsUnknown;
  BootSector boot{};
  if (!DetectFsKind(volume, row.sectorCount, kind, boot)) return;
  row.fsKind = kind;
  row.fsName = ProbeName(kind);
  row.bootSector = boot;
}

std::string MakeDisplayName(const DeviceInfo& row) {
  std::string name;
  std::size_t chars = Utf8Length(row.volumeLabel);
  if (chars >= 1 && chars <= 31) name = row.volumeLabel;
  if (row.volumePath.size() > 4) name += " (" + row.driveLetter + ": " + row.fsName + ")";
  return name;
}

std::string ApiFsName(const std::string& blkidType, const std::string& blkidVersion) {
  if (blkidType == "ntfs") return "NTFS";
  if (blkidType == "exfat") return "exFAT";
  if (blkidType == "vfat") return blkidVersion == "FAT32" ? "FAT32" : "FAT";
  return blkidType;
}

std::int32_t FsKindOfApiName(const std::string& name) {
  if (name == "NTFS") return kFsNtfs;
  if (name == "FAT") return kFsFat16;
  if (name == "FAT32") return kFsFat32;
  if (name == "exFAT") return kFsExfat;
  return kFsUnknown;
}

std::uint32_t SerialFromUuid(const std::string& uuid) {
  std::string hex;
  for (char c : uuid)
    if (std::isxdigit(static_cast<unsigned char>(c))) hex.push_back(c);
  if (hex.size() > 8) hex = hex.substr(hex.size() - 8);
  return hex.empty() ? 0 : static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
}

void FillVolumeFacts(DeviceInfo& row, DiskHandle& volume, const BlkidFacts* facts) {
  if (facts) {
    row.volumeLabel = facts->label.empty() ? kDefaultVolumeLabel : facts->label;
    row.volumeSerial = SerialFromUuid(facts->uuid);
    row.fsName = ApiFsName(facts->type, facts->version);
    row.fsKind = FsKindOfApiName(row.fsName);
    if (row.fsKind != kFsUnknown && !ReadSectors(volume, 0, 1, row.bootSector.data())) {
      std::int32_t kind = kFsUnknown;
      BootSector boot{};
      if (DetectFsKind(volume, row.sectorCount, kind, boot) && kind == row.fsKind)
        row.bootSector = boot;
      else
        row.fsKind = kFsUnknown;
    }
  } else {
    ProbePartition(row, volume);
  }
  row.displayName = MakeDisplayName(row);
}

}  // namespace ambrel
