// ambrel-cli devices [--json]: the machine's disks (numbered 0-9) and the
// volumes on them. Opening raw disks needs root.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "device_output.h"
#include "session/program.h"
#include "text_output.h"

namespace ambrel::cli {
namespace {

struct DevicesOptions {
  bool json = false;
};
DevicesOptions g_options;

std::vector<DeviceInfo> VolumesOf(const std::vector<DeviceInfo>& volumes, int disk) {
  std::vector<DeviceInfo> out;
  for (const DeviceInfo& v : volumes)
    if (v.diskNumber == disk) out.push_back(v);
  return out;
}

void PrintText(const std::vector<DeviceInfo>& disks, const std::vector<DeviceInfo>& volumes) {
  for (const DeviceInfo& d : disks) {
    std::printf("disk %d: %s  %s  %" PRIu64 " sectors (%" PRIu64 " bytes)%s\n", d.diskNumber,
                PrintableText(d.diskPath).c_str(), PrintableText(d.displayName).c_str(), d.sectorCount,
                d.sectorCount * 512, d.removable ? "  removable" : "");
    for (const DeviceInfo& v : VolumesOf(volumes, d.diskNumber)) PrintVolumeLine(stdout, v);
  }
}

void PrintDevicesJson(const std::vector<DeviceInfo>& disks, const std::vector<DeviceInfo>& volumes) {
  Json list = Json::array();
  for (const DeviceInfo& d : disks) {
    Json disk;
    disk["number"] = d.diskNumber;
    disk["path"] = JsonText(d.diskPath);
    disk["name"] = JsonText(d.displayName);
    disk["sectors"] = d.sectorCount;
    disk["size"] = d.sectorCount * 512;
    disk["removable"] = d.removable;
    disk["volumes"] = Json::array();
    for (const DeviceInfo& v : VolumesOf(volumes, d.diskNumber)) disk["volumes"].push_back(VolumeJson(v));
    list.push_back(std::move(disk));
  }
  Json document;
  document["disks"] = std::move(list);
  PrintJson(document);
}

void Define(CLI::App& app) { app.add_flag("--json", g_options.json, "print the lists as JSON"); }

int RunDevices() {
  std::vector<DeviceInfo> rows;
  DeviceEnumerator enumerator;
  const bool found = EnumerateMachineDevices(enumerator, rows, 0);
  const DeviceLists lists = enumerator.Lists();
  if (!found && lists.disks.empty()) {
    std::fprintf(stderr, "ambrel-cli devices: no disk could be opened (reading raw disks needs root)\n");
    return 1;
  }
  if (g_options.json)
    PrintDevicesJson(lists.disks, lists.volumes);
  else
    PrintText(lists.disks, lists.volumes);
  return 0;
}

const CliCommandRegistrar kRegistrar({"devices", "devices [--json]", "disks and volumes of this machine", Define,
                                      RunDevices});

}  // namespace
}  // namespace ambrel::cli
