#include "deepscan/scan_hit.h"

#include <vector>

#include "catalog/file_types.h"

namespace ambrel {

bool IsSignatureKind(std::uint32_t kind) { return kind <= kHitLastTypeCode; }

bool IsSectorKind(std::uint32_t kind) { return kind >= kHitMbr && kind <= kHitGptHeader; }

bool CarriesSectorCopy(std::uint32_t kind) {
  return kind == kHitMbr || kind == kHitEbr || kind == kHitNtfsBoot || kind == kHitFat16Boot ||
         kind == kHitFat32Boot || kind == kHitExfatBoot;
}

bool IsKnownHitKind(std::uint32_t kind) {
  return IsSignatureKind(kind) || (kind >= kHitFirstVideo && kind <= kHitLastVideo) ||
         IsSectorKind(kind) || kind == kHitDead;
}

int ProgressCounterOf(std::uint32_t kind) {
  switch (kind) {
    case kHitEbr: return 0;
    case kHitNtfsBoot: return 1;
    case kHitFat16Boot:
    case kHitFat32Boot: return 2;
    case kHitExfatBoot: return 3;
    case kHitFileRecord: return 4;
    case kHitFatDirectory: return 5;
    case kHitIndxRecord: return 6;
    case kHitExfatDirectory: return 7;
    default: return -1;
  }
}

namespace {

std::vector<std::string> BuildNameTable() {
  std::vector<std::string> names(kHitGptHeader + 1, "***");
  for (std::uint32_t code = 0; code <= kHitLastTypeCode; ++code)
    if (const FileTypeEntry* type = FindFileType(code)) names[code] = type->extension;
  const char* sectorNames[] = {"MBR",           "EBR",
                               "NTFS DBR",      "FILE RECORD",
                               "DIR ENTRY",     "FAT16 DBR",
                               "FAT16 fat table", "FAT32 DBR",
                               "FAT32 FAT Table", "FAT32 file sys info",
                               "FAT Dir entry", "FAT Root Dir entry",
                               "EXFAT DBR",     "Exfat root dir entry",
                               "Exfat dir entry"};
  for (std::uint32_t i = 0; i < std::size(sectorNames); ++i) names[kHitMbr + i] = sectorNames[i];
  return names;
}

}  // namespace

const std::string& HitKindName(std::uint32_t kind) {
  static const std::vector<std::string> names = BuildNameTable();
  static const std::string none = "***";
  return kind < names.size() ? names[kind] : none;
}

}  // namespace ambrel
