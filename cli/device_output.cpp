#include "device_output.h"

#include <cinttypes>

#include "common/text.h"

namespace ambrel::cli {

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) out += Format("\\u%04x", c);
        else out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

const char* FsKindName(std::int32_t kind) {
  switch (kind) {
    case kFsNtfs: return "NTFS";
    case kFsFat16: return "FAT16";
    case kFsFat32: return "FAT32";
    case kFsExfat: return "exFAT";
    default: return "unknown";
  }
}

std::string VolumeJson(const DeviceInfo& v) {
  return Format("{\"path\":%s,\"name\":%s,\"display_name\":%s,\"start\":%" PRIu64
                ",\"sectors\":%" PRIu64 ",\"free_sectors\":%" PRIu64
                ",\"kind\":%d,\"kind_name\":%s,\"fs_name\":%s,\"label\":%s,\"serial\":\"%08X\","
                "\"removable\":%s,\"disk_number\":%d}",
                JsonQuote(v.volumePath).c_str(), JsonQuote(v.driveLetter).c_str(),
                JsonQuote(v.displayName).c_str(), v.startLba, v.sectorCount, v.freeSectors,
                v.fsKind, JsonQuote(FsKindName(v.fsKind)).c_str(), JsonQuote(v.fsName).c_str(),
                JsonQuote(v.volumeLabel).c_str(), v.volumeSerial, v.removable ? "true" : "false",
                v.diskNumber);
}

void PrintVolumeLine(std::FILE* out, const DeviceInfo& v) {
  std::fprintf(out, "  %-22s start %-10" PRIu64 " sectors %-10" PRIu64 " %-7s label \"%s\"  %s\n",
               v.driveLetter.c_str(), v.startLba, v.sectorCount, FsKindName(v.fsKind),
               v.volumeLabel.c_str(), v.displayName.c_str());
}

}  // namespace ambrel::cli
