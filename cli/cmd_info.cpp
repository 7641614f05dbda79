// ambrel-cli info PATH [--json]: a disk, partition or image file described
// from its own contents. Opens the path read-only and writes nothing.
#include <cinttypes>
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "device_output.h"
#include "session/source_session.h"
#include "text_output.h"
#include "volume_checks.h"

namespace ambrel::cli {
namespace {

struct InfoOptions {
  std::string path;
  bool json = false;
};
InfoOptions g_options;

void PrintText(const std::string& path, const DiskDescription& d) {
  std::printf("path: %s\n", PrintableText(path).c_str());
  std::printf("model: %s\n", PrintableText(d.disk.displayName).c_str());
  std::printf("container: %s\n", d.container.c_str());
  std::printf("size: %" PRIu64 " bytes\n", d.disk.sectorCount * 512);
  std::printf("sectors: %" PRIu64 "\n", d.disk.sectorCount);
  std::printf("partition table: %s\n", TableKindName(d.tableKind));
  std::printf("volumes: %zu\n", d.volumes.size());
  for (const DeviceInfo& v : d.volumes) PrintVolumeLine(stdout, v);
}

void PrintInfoJson(const std::string& path, const DiskDescription& d) {
  Json j;
  j["path"] = JsonText(path);
  j["model"] = JsonText(d.disk.displayName);
  j["container"] = d.container;
  j["size"] = d.disk.sectorCount * 512;
  j["sectors"] = d.disk.sectorCount;
  j["removable"] = d.disk.removable;
  j["partitionTable"] = TableKindName(d.tableKind);
  j["volumes"] = Json::array();
  for (const DeviceInfo& v : d.volumes) j["volumes"].push_back(VolumeJson(v));
  PrintJson(j);
}

void Define(CLI::App& app) {
  app.add_option("PATH", g_options.path, "disk, partition or image file")->required();
  app.add_flag("--json", g_options.json, "print the description as JSON");
}

int RunInfo() {
  const std::string& path = g_options.path;
  std::string why;
  std::unique_ptr<SourceSession> source = SourceSession::Open(path, &why);
  if (!source) {
    std::fprintf(stderr, "ambrel-cli info: %s: %s\n", path.c_str(), why.c_str());
    return 1;
  }
  WarnOfLostGptPartitions(*source, "info");
  const DiskDescription& description = source->Description();
  if (g_options.json)
    PrintInfoJson(path, description);
  else
    PrintText(path, description);
  return 0;
}

const CliCommandRegistrar kRegistrar({"info", "info PATH [--json]",
                                      "size, partition table and volumes of a disk or image", Define, RunInfo});

}  // namespace
}  // namespace ambrel::cli
