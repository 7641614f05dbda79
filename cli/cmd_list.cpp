// ambrel-cli list: parses the file systems of a disk, a volume or an image and
// prints the rebuilt tree of each volume, live and deleted entries alike.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "commands.h"
#include "device_output.h"
#include "common/text.h"
#include "device/disk_handle.h"
#include "catalog/partition_info.h"
#include "fs/views/recycle_bin.h"
#include "volume_loader.h"

namespace ambrel::cli {
namespace {

struct ListOptions {
  std::string path;
  int partition = 0;  // 0 = every volume
  Scope scope = Scope::kAll;
  bool json = false;
};

struct Entry {
  std::string path;
  const FoundFileNode* node = nullptr;
};

const char* const kUsage =
    "list PATH [--partition N] [--deleted|--present|--recycle] [--json]";

bool ParseArguments(int argc, char** argv, ListOptions& options) {
  bool valid = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (ParseVolumeOption(argc, argv, i, options.partition, options.scope, valid)) {
      if (!valid) return false;
    } else if (arg == "--json") {
      options.json = true;
    } else if (!arg.empty() && arg[0] != '-' && options.path.empty()) {
      options.path = arg;
    } else {
      return false;
    }
  }
  return !options.path.empty();
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
              info.fsName.c_str(), info.volumeLabel.c_str(),
              static_cast<unsigned long long>(info.startLba),
              static_cast<unsigned long long>(info.sectorCount), entries.size());
  for (const Entry& e : entries) {
    const NodeKind kind = KindOf(*e.node);
    std::printf("%c %-7s %7u %12llu  %s  %s  %s\n", IsFolderKind(kind) ? 'd' : 'r',
                IsDeletedKind(kind) ? "deleted" : "live", e.node->id,
                static_cast<unsigned long long>(e.node->size), FormatTime(e.node->created).c_str(),
                FormatTime(e.node->modified).c_str(), e.path.c_str());
  }
}

void PrintVolumeJson(int number, const PartitionInfo& info, const std::vector<Entry>& entries,
                     bool first) {
  std::printf(
      "%s{\"volume\":%d,\"fs\":%s,\"label\":%s,\"startLba\":%llu,\"sectors\":%llu,"
      "\"entries\":[",
      first ? "" : ",", number, JsonQuote(info.fsName).c_str(),
      JsonQuote(info.volumeLabel).c_str(), static_cast<unsigned long long>(info.startLba),
      static_cast<unsigned long long>(info.sectorCount));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const NodeKind kind = KindOf(*e.node);
    std::printf(
        "%s\n{\"id\":%u,\"path\":%s,\"type\":\"%s\",\"deleted\":%s,\"size\":%llu,"
        "\"created\":%s,\"modified\":%s}",
        i ? "," : "", e.node->id, JsonQuote(e.path).c_str(), IsFolderKind(kind) ? "dir" : "file",
        IsDeletedKind(kind) ? "true" : "false", static_cast<unsigned long long>(e.node->size),
        JsonQuote(FormatTime(e.node->created)).c_str(),
        JsonQuote(FormatTime(e.node->modified)).c_str());
  }
  std::printf("]}");
}

int RunList(int argc, char** argv) {
  ListOptions options;
  if (!ParseArguments(argc, argv, options)) {
    std::fprintf(stderr, "usage: ambrel-cli %s\n", kUsage);
    return 2;
  }
  // The command line parses file systems unless a settings file says otherwise.
  if (!SettingsLoaded()) SetSettingsLoaded(true);
  if (GetSetting("ParseFileSys").empty()) OverrideSetting("ParseFileSys", "1");
  DiskHandle disk;
  if (!OpenByPath(options.path, disk)) {
    std::fprintf(stderr, "ambrel-cli list: cannot open %s\n", options.path.c_str());
    return 1;
  }
  std::vector<Volume> volumes = FindVolumes(disk, options.path);
  disk.Close();
  int status = 0;
  bool listedAny = false;
  if (options.json) std::printf("[");
  for (Volume& v : volumes) {
    if (options.partition != 0 && v.number != options.partition) continue;
    if (v.info.fsKind == kFsUnknown) {
      std::fprintf(
          stderr,
          "ambrel-cli list: volume %d (start %llu) is not an NTFS, FAT or exFAT file system\n",
          v.number, static_cast<unsigned long long>(v.info.startLba));
      status = 1;
      continue;
    }
    if (!LoadVolume(v)) {
      std::fprintf(stderr, "ambrel-cli list: volume %d (%s): the file system could not be read\n",
                   v.number, v.info.fsName.c_str());
      status = 1;
      continue;
    }
    // The deleted and present listings are the two halves of the deletion
    // split: a present file inside a deleted folder goes with its folder.
    const std::unique_ptr<PartitionInfo> shown = ScopedVolume(options.scope, v.info);
    if (!shown) {
      if (options.scope == Scope::kRecycle)
        std::fprintf(stderr, "ambrel-cli list: volume %d has no recycle bin holding files\n", v.number);
      continue;
    }
    const std::vector<Entry> entries = CollectEntries(shown->table);
    if (options.json) {
      PrintVolumeJson(v.number, *shown, entries, !listedAny);
    } else {
      PrintVolumeText(v.number, *shown, entries);
    }
    listedAny = true;
  }
  if (options.json) std::printf("]\n");
  if (options.partition != 0 && !listedAny && status == 0) {
    std::fprintf(stderr, "ambrel-cli list: no volume %d on %s\n", options.partition,
                 options.path.c_str());
    return 1;
  }
  return status;
}

const CliCommandRegistrar kListCommand("list", kUsage, RunList);

}  // namespace
}  // namespace ambrel::cli
