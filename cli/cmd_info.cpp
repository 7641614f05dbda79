// ambrel-cli info PATH [--json]: a disk, partition or image file described
// from its own contents. Opens the path read-only and writes nothing.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "device/device_enum.h"
#include "device_output.h"
#include "fs/boot_probe.h"

namespace ambrel::cli {
namespace {

void PrintText(const std::string& path, const DiskDescription& d) {
  std::printf("path: %s\n", path.c_str());
  std::printf("model: %s\n", d.disk.displayName.c_str());
  std::printf("container: %s\n", d.container.c_str());
  std::printf("size: %" PRIu64 " bytes\n", d.disk.sectorCount * 512);
  std::printf("sectors: %" PRIu64 "\n", d.disk.sectorCount);
  std::printf("partition table: %s\n", TableKindName(d.tableKind));
  std::printf("volumes: %zu\n", d.volumes.size());
  for (const DeviceInfo& v : d.volumes) PrintVolumeLine(stdout, v);
}

void PrintJson(const std::string& path, const DiskDescription& d) {
  std::printf("{\"path\":%s,\"model\":%s,\"container\":%s,\"size\":%" PRIu64 ",\"sectors\":%" PRIu64
              ",\"removable\":%s,\"partition_table\":%s,\"volumes\":[",
              JsonQuote(path).c_str(), JsonQuote(d.disk.displayName).c_str(),
              JsonQuote(d.container).c_str(), d.disk.sectorCount * 512, d.disk.sectorCount, d.disk.removable ? "true" : "false",
              JsonQuote(TableKindName(d.tableKind)).c_str());
  for (std::size_t i = 0; i < d.volumes.size(); ++i)
    std::printf("%s%s", i ? "," : "", VolumeJson(d.volumes[i]).c_str());
  std::printf("]}\n");
}

int RunInfo(int argc, char** argv) {
  bool json = false;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (path.empty()) {
      path = argv[i];
    } else {
      std::fprintf(stderr, "ambrel-cli info: unexpected argument '%s'\n", argv[i]);
      return 2;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "usage: ambrel-cli info PATH [--json]\n");
    return 2;
  }
  DiskDescription description;
  std::string why;
  if (!DescribeDisk(path, description, JudgeSector, &why)) {
    std::fprintf(stderr, "ambrel-cli info: %s: %s\n", path.c_str(), why.c_str());
    return 1;
  }
  if (json)
    PrintJson(path, description);
  else
    PrintText(path, description);
  return 0;
}

CliCommandRegistrar registerInfo("info", "info PATH [--json]   size, partition table and volumes of a disk or image",
                                 RunInfo);

}  // namespace
}  // namespace ambrel::cli
