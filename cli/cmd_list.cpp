// ambrel-cli list: parses the file systems of a disk, a volume or an image and
// prints the rebuilt tree of each volume, live and deleted entries alike.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "commands.h"
#include "device_output.h"
#include "common/text.h"
#include "device/disk_handle.h"
#include "catalog/partition_info.h"
#include "fs/views/recycle_bin.h"
#include "gpt_loss.h"
#include "json_output.h"
#include "text_output.h"
#include "tree_output.h"
#include "volume_checks.h"
#include "volume_loader.h"

namespace ambrel::cli {
namespace {

struct ListOptions {
  std::string path;
  VolumeOptions volumes;
  bool json = false;
};
ListOptions g_options;

void Define(CLI::App& app) {
  app.add_option("PATH", g_options.path, "disk, volume or image file")->required();
  AddVolumeOptions(app, g_options.volumes);
  app.add_flag("--json", g_options.json, "print the volumes and their entries as JSON");
}

// Lists one volume; false (with a message) when it cannot be listed.
bool ListVolume(DiskHandle& disk, Volume& v, Json& document) {
  const ListOptions& options = g_options;
  if (v.info.fsKind == kFsUnknown) {
    std::fprintf(stderr, "ambrel-cli list: %s\n", NotFileSystemText(disk, v).c_str());
    return false;
  }
  if (!LoadVolume(v)) {
    std::fprintf(stderr, "ambrel-cli list: volume %d (%s): the file system could not be read\n", v.number,
                 v.info.fsName.c_str());
    return false;
  }
  // The deleted and present listings are the two halves of the deletion
  // split: a present file inside a deleted folder goes with its folder.
  const std::unique_ptr<PartitionInfo> shown = ScopedVolume(options.volumes.scope, v.info);
  if (!shown) {
    if (options.volumes.scope == Scope::kRecycle)
      std::fprintf(stderr, "ambrel-cli list: volume %d has no recycle bin holding files\n", v.number);
    return true;
  }
  const std::vector<TreeEntry> entries = CollectTreeEntries(shown->table);
  if (options.json)
    document.push_back(TreeJson(v.number, *shown, entries));
  else
    PrintTreeText(v.number, *shown, entries);
  return true;
}

int RunList() {
  const ListOptions& options = g_options;
  // The command line parses file systems unless a settings file says otherwise.
  if (!SettingsLoaded()) SetSettingsLoaded(true);
  if (GetSetting("ParseFileSys").empty()) OverrideSetting("ParseFileSys", "1");
  DiskHandle disk;
  std::string why;
  if (!OpenByPath(options.path, disk, &why)) {
    std::fprintf(stderr, "ambrel-cli list: cannot open %s: %s\n", options.path.c_str(), why.c_str());
    return 1;
  }
  std::vector<Volume> volumes = FindVolumes(disk, options.path);
  WarnOfLostGptPartitions(disk, VolumeNumbers(volumes), "list");
  if (volumes.empty()) {
    std::fprintf(stderr, "ambrel-cli list: %s: %s\n", options.path.c_str(), NoVolumesText(disk).c_str());
    return 1;
  }
  const int wanted = options.volumes.partition;
  if (wanted != 0 && std::none_of(volumes.begin(), volumes.end(), [&](const Volume& v) { return v.number == wanted; })) {
    std::fprintf(stderr, "ambrel-cli list: %s\n", NoVolumeText(wanted, volumes, options.path).c_str());
    return 1;
  }
  int status = 0;
  Json document = Json::array();
  for (Volume& v : volumes) {
    if (wanted != 0 && v.number != wanted) continue;
    if (!ListVolume(disk, v, document)) status = 1;
  }
  if (options.json) PrintJson(document);
  return status;
}

const CliCommandRegistrar kListCommand({"list", "list PATH [--partition N] [--deleted|--present|--recycle] [--json]",
                                        "the rebuilt tree of each volume, live and deleted entries", Define,
                                        RunList});

}  // namespace
}  // namespace ambrel::cli
