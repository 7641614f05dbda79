#include "device_output.h"

#include <cinttypes>

#include "common/text.h"
#include "session/source_session.h"
#include "text_output.h"

namespace ambrel::cli {

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
