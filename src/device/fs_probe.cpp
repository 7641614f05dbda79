// The boot-sector probe of a volume and the naming of volume rows.
#include <cctype>

#include "common/text.h"
#include "device/device_enum.h"
#include "device/volume_facts.h"

namespace ambrel {
namespace {

bool JudgeAt(DiskHandle& volume, std::uint64_t lba, std::uint64_t sectors, SectorJudge judge,
             SectorVerdict& verdict, BootSector& boot) {
  if (!ReadSectors(volume, lba, 1, boot.data())) return false;
  verdict = judge(ByteSpan(boot.data(), boot.size()), sectors > lba ? sectors - lba : 0);
  return verdict.IsVolume();
}

}  // namespace

bool DetectFsKind(DiskHandle& volume, std::uint64_t sectors, SectorJudge judge,
                  SectorVerdict& verdict, BootSector& boot) {
  BootSector s{};
  SectorVerdict v;
  bool found = JudgeAt(volume, 0, sectors, judge, v, s);
  // The backups: FAT32 at 6, NTFS in the last sector, exFAT's region at 12.
  if (!found) found = JudgeAt(volume, 6, sectors, judge, v, s) && v.fsKind == kFsFat32;
  if (!found && sectors != 0)
    found = JudgeAt(volume, sectors - 1, sectors, judge, v, s) && v.fsKind == kFsNtfs;
  if (!found) found = JudgeAt(volume, 12, sectors, judge, v, s) && v.fsKind == kFsExfat;
  if (!found) return false;
  if (sectors != 0) v.truncated = v.volumeSectors > sectors;  // judged against the whole volume
  verdict = v;
  boot = s;
  return true;
}

namespace {

void ProbeVolume(DeviceInfo& row, DiskHandle& volume, SectorJudge judge) {
  SectorVerdict verdict;
  BootSector boot{};
  if (!DetectFsKind(volume, row.sectorCount, judge, verdict, boot)) return;
  row.fsKind = verdict.fsKind;
  row.fsName = verdict.fsName;
  row.bootSector = boot;
}

}  // namespace

void ProbePartition(DeviceInfo& row, DiskHandle& volume, SectorJudge judge) {
  if (row.sectorCount > kProbeMinSectors) ProbeVolume(row, volume, judge);
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

void FillVolumeFacts(DeviceInfo& row, DiskHandle& volume, const BlkidFacts* facts,
                     SectorJudge judge, bool anySize) {
  if (facts) {
    row.volumeLabel = facts->label.empty() ? kDefaultVolumeLabel : facts->label;
    row.volumeSerial = SerialFromUuid(facts->uuid);
    row.fsName = ApiFsName(facts->type, facts->version);
    SectorVerdict verdict;
    BootSector boot{};
    row.fsKind = kFsUnknown;
    if (DetectFsKind(volume, row.sectorCount, judge, verdict, boot)) {
      row.fsKind = verdict.fsKind;
      row.bootSector = boot;
    }
  } else if (anySize) {
    ProbeVolume(row, volume, judge);
  } else {
    ProbePartition(row, volume, judge);
  }
  row.displayName = MakeDisplayName(row);
}

}  // namespace ambrel
