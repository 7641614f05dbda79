#include "tree_output.h"

#include <algorithm>
#include <cstdio>

#include "catalog/node_table.h"
#include "common/text.h"
#include "text_output.h"

namespace ambrel::cli {

std::string FormatPackedTime(PackedTime t) {
  if (t == 0) return "-";
  return Format("%04u-%02u-%02u %02u:%02u:%02u", (t >> 26) + 1980, (t >> 22) & 15, (t >> 17) & 31,
                (t >> 12) & 31, (t >> 6) & 63, t & 63);
}

namespace {

bool IsDeletedKind(NodeKind kind) { return kind == kDeletedFile || kind == kDeletedFolder; }

// An entry of the lost-files folder or below it: nothing on the volume
// names it any more.
bool IsOrphan(const FoundFileTable& table, std::uint32_t id) {
  for (int depth = 0; id != kRootId && depth < 4096; ++depth) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node) return false;
    if (node->parentId == kLostFolderId) return true;
    if (node->parentId == id) return false;
    id = node->parentId;
  }
  return false;
}

}  // namespace

std::string NodePath(const FoundFileTable& table, std::uint32_t id) {
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

std::vector<TreeEntry> CollectTreeEntries(const FoundFileTable& table) {
  std::vector<TreeEntry> entries;
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node || id == kRootId) continue;
    if (id == kLostFolderId && node->childCount == 0) continue;
    entries.push_back({NodePath(table, id), node, ListedFileState{}});
  }
  std::sort(entries.begin(), entries.end(),
            [](const TreeEntry& a, const TreeEntry& b) { return a.path < b.path; });
  return entries;
}

std::vector<TreeEntry> CollectTreeEntries(const PartitionInfo& volume) {
  std::vector<TreeEntry> entries = CollectTreeEntries(volume.table);
  for (TreeEntry& e : entries) e.state = FileStateOf(volume, *e.node);
  return entries;
}

void PrintTreeText(int number, const PartitionInfo& info, const std::vector<TreeEntry>& entries) {
  std::printf("# volume %d: %s \"%s\", start %llu, %llu sectors, %zu entries\n", number,
              info.fsName.c_str(), PrintableText(info.volumeLabel).c_str(),
              static_cast<unsigned long long>(info.startLba),
              static_cast<unsigned long long>(info.sectorCount), entries.size());
  for (const TreeEntry& e : entries) {
    const NodeKind kind = KindOf(*e.node);
    std::printf("%c %-7s %7u %12llu  %s  %s  %-23s  %s\n", IsFolderKind(kind) ? 'd' : 'r',
                IsDeletedKind(kind) ? "deleted" : "live", e.node->id,
                static_cast<unsigned long long>(e.node->size), FormatPackedTime(e.node->created).c_str(),
                FormatPackedTime(e.node->modified).c_str(), StateColumnText(e.state).c_str(),
                PrintableText(e.path).c_str());
  }
}

Json TreeJson(int number, const PartitionInfo& info, const std::vector<TreeEntry>& entries) {
  Json volume;
  volume["volume"] = number;
  volume["fs"] = JsonText(info.fsName);
  volume["label"] = JsonText(info.volumeLabel);
  volume["startLba"] = info.startLba;
  volume["sectors"] = info.sectorCount;
  Json list = Json::array();
  for (const TreeEntry& e : entries) {
    const NodeKind kind = KindOf(*e.node);
    // The node record is packed: copy its fields before nlohmann takes them by reference.
    const std::uint32_t id = e.node->id;
    const std::uint64_t size = e.node->size;
    Json entry;
    entry["id"] = id;
    entry["path"] = JsonText(e.path);
    entry["type"] = IsFolderKind(kind) ? "dir" : "file";
    entry["deleted"] = IsDeletedKind(kind);
    if (IsOrphan(info.table, id)) entry["orphan"] = true;
    entry["size"] = size;
    entry["created"] = FormatPackedTime(e.node->created);
    entry["modified"] = FormatPackedTime(e.node->modified);
    if (e.state.overwrite != OverwriteState::kUnknown) {
      entry["state"] = OverwriteStateName(e.state.overwrite);
      entry["overwrittenPercent"] = e.state.overwrittenPercent;
    }
    if (e.state.damage != DataDamage::kNone) {
      entry["damage"] = JsonText(DamageReasonText(e.state));
      entry["whole"] = false;
    } else if (IsFileKind(kind)) {
      entry["whole"] = true;
    }
    list.push_back(std::move(entry));
  }
  volume["entries"] = std::move(list);
  return volume;
}

}  // namespace ambrel::cli
