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

struct Entry {
  std::string path;
  const FoundFileNode* node = nullptr;
};

void Define(CLI::App& app) {
  app.add_option("PATH", g_options.path, "disk, volume or image file")->required();
  AddVolumeOptions(app, g_options.volumes);
  app.add_flag("--json", g_options.json, "print the volumes and their entries as JSON");
}

std::string FormatTime(PackedTime t) {
  if (t == 0) return "-";
  return Format("%04u-%02u-%02u %02u:%02u:%02u", (t >> 26) + 1980, (t >> 22) & 15, (t >> 17) & 31,
                (t >> 12) & 31, (t >> 6) & 63, t & 63);
}

bool IsDeletedKind(NodeKind kind) { return kind == kDeletedFile || kind == kDeletedFolder; }

std::string PathOf(const FoundFileTable& table, std::uint32_t id) {
  std::vector<std::string> parts;
  for (int depth = 0; id != kRootId && depth < 4096; ++depth) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node) break;
    parts.push_back(node->name);
    if (node->parentId == id) break;
    id = node->parentId;
  }
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += *it;
  }
  return path;
}

std::vector<Entry> CollectEntries(const FoundFileTable& table) {
  std::vector<Entry> entries;
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node || id == kRootId) continue;
    if (id == kLostFolderId && node->childCount == 0) continue;
    entries.push_back({PathOf(table, id), node});
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.path < b.path; });
  return entries;
}

void PrintVolumeText(int number, const PartitionInfo& info, const std::vector<Entry>& entries) {
  std::printf("# volume %d: %s \"%s\", start %llu, %llu sectors, %zu entries\n", number,
              info.fsName.c_str(), PrintableText(info.volumeLabel).c_str(),
              static_cast<unsigned long long>(info.startLba),
              static_cast<unsigned long long>(info.sectorCount), entries.size());
  for (const Entry& e : entries) {
    const NodeKind kind = KindOf(*e.node);
    std::printf("%c %-7s %7u %12llu  %s  %s  %s\n", IsFolderKind(kind) ? 'd' : 'r',
                IsDeletedKind(kind) ? "deleted" : "live", e.node->id,
                static_cast<unsigned long long>(e.node->size), FormatTime(e.node->created).c_str(),
                FormatTime(e.node->modified).c_str(), PrintableText(e.path).c_str());
  }
}

Json ListedVolumeJson(int number, const PartitionInfo& info, const std::vector<Entry>& entries) {
  Json volume;
  volume["volume"] = number;
  volume["fs"] = JsonText(info.fsName);
  volume["label"] = JsonText(info.volumeLabel);
  volume["startLba"] = info.startLba;
  volume["sectors"] = info.sectorCount;
  Json list = Json::array();
  for (const Entry& e : entries) {
    const NodeKind kind = KindOf(*e.node);
    // The node record is packed: copy its fields before nlohmann takes them by reference.
    const std::uint32_t id = e.node->id;
    const std::uint64_t size = e.node->size;
    Json entry;
    entry["id"] = id;
    entry["path"] = JsonText(e.path);
    entry["type"] = IsFolderKind(kind) ? "dir" : "file";
    entry["deleted"] = IsDeletedKind(kind);
    entry["size"] = size;
    entry["created"] = FormatTime(e.node->created);
    entry["modified"] = FormatTime(e.node->modified);
    list.push_back(std::move(entry));
  }
  volume["entries"] = std::move(list);
  return volume;
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
  const std::vector<Entry> entries = CollectEntries(shown->table);
  if (options.json)
    document.push_back(ListedVolumeJson(v.number, *shown, entries));
  else
    PrintVolumeText(v.number, *shown, entries);
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
