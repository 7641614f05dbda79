#include "device_output.h"

#include <cinttypes>

#include "common/text.h"
#include "fs/boot_probe.h"
#include "text_output.h"

namespace ambrel::cli {

const char* FsKindName(std::int32_t kind) {
  switch (kind) {
    case kFsNtfs: return "NTFS";
    case kFsFat16: return "FAT16";
    case kFsFat32: return "FAT32";
    case kFsExfat: return "exFAT";
    default: return "unknown";
  }
}

const char* VolumeKindName(const DeviceInfo& v) {
  // FAT12 shares the FAT16 kind; its boot sector tells them apart.
  if (v.fsKind == kFsFat16) {
    const char* name = JudgeFatBootSector(v.bootSector, 0).fsName;
    if (name[0] != '\0') return name;
  }
  return FsKindName(v.fsKind);
}

Json VolumeJson(const DeviceInfo& v) {
  Json j;
  j["path"] = JsonText(v.volumePath);
  j["name"] = JsonText(v.driveLetter);
  j["displayName"] = JsonText(v.displayName);
  j["start"] = v.startLba;
  j["sectors"] = v.sectorCount;
  j["freeSectors"] = v.freeSectors;
  j["kind"] = v.fsKind;
  j["kindName"] = VolumeKindName(v);
  j["fsName"] = JsonText(v.fsName);
  j["label"] = JsonText(v.volumeLabel);
  j["serial"] = Format("%08X", v.volumeSerial);
  j["removable"] = v.removable;
  j["diskNumber"] = v.diskNumber;
  return j;
}

void PrintVolumeLine(std::FILE* out, const DeviceInfo& v) {
  std::fprintf(out, "  %-22s start %-10" PRIu64 " sectors %-10" PRIu64 " %-7s label \"%s\"  %s\n",
               PrintableText(v.driveLetter).c_str(), v.startLba, v.sectorCount, VolumeKindName(v),
               PrintableText(v.volumeLabel).c_str(), PrintableText(v.displayName).c_str());
}

}  // namespace ambrel::cli
