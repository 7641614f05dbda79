// ambrel-cli devices [--json]: the machine's disks (numbered 0-9) and the
// volumes on them. Opening raw disks needs root.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "device/device_enum.h"
#include "device_output.h"
#include "fs/boot_probe.h"

namespace ambrel::cli {
namespace {

std::vector<DeviceInfo> VolumesOf(const std::vector<DeviceInfo>& volumes, int disk) {
  std::vector<DeviceInfo> out;
  for (const DeviceInfo& v : volumes)
    if (v.diskNumber == disk) out.push_back(v);
  return out;
}

void PrintText(const std::vector<DeviceInfo>& disks, const std::vector<DeviceInfo>& volumes) {
  for (const DeviceInfo& d : disks) {
    std::printf("disk %d: %s  %s  %" PRIu64 " sectors (%" PRIu64 " bytes)%s\n", d.diskNumber,
                d.diskPath.c_str(), d.displayName.c_str(), d.sectorCount, d.sectorCount * 512,
                d.removable ? "  removable" : "");
    for (const DeviceInfo& v : VolumesOf(volumes, d.diskNumber)) PrintVolumeLine(stdout, v);
  }
}

void PrintJson(const std::vector<DeviceInfo>& disks, const std::vector<DeviceInfo>& volumes) {
  std::printf("{\"disks\":[");
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const DeviceInfo& d = disks[i];
    std::printf("%s{\"number\":%d,\"path\":%s,\"name\":%s,\"sectors\":%" PRIu64
                ",\"size\":%" PRIu64 ",\"removable\":%s,\"volumes\":[",
                i ? "," : "", d.diskNumber, JsonQuote(d.diskPath).c_str(),
                JsonQuote(d.displayName).c_str(), d.sectorCount, d.sectorCount * 512,
                d.removable ? "true" : "false");
    std::vector<DeviceInfo> own = VolumesOf(volumes, d.diskNumber);
    for (std::size_t j = 0; j < own.size(); ++j)
      std::printf("%s%s", j ? "," : "", VolumeJson(own[j]).c_str());
    std::printf("]}");
  }
  std::printf("]}\n");
}

int RunDevices(int argc, char** argv) {
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else {
      std::fprintf(stderr, "ambrel-cli devices: unexpected argument '%s'\n", argv[i]);
      return 2;
    }
  }
  std::vector<DeviceInfo> rows;
  if (!EnumerateDevices(rows, 0, JudgeSector) && DiskList().empty()) {
    std::fprintf(stderr, "ambrel-cli devices: no disk could be opened (reading raw disks needs root)\n");
    return 1;
  }
  if (json)
    PrintJson(DiskList(), VolumeList());
  else
    PrintText(DiskList(), VolumeList());
  return 0;
}

CliCommandRegistrar registerDevices("devices", "devices [--json]     disks and volumes of this machine",
                                    RunDevices);

}  // namespace
}  // namespace ambrel::cli
