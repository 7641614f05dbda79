#include "tree_output.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

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
  // The names are gathered as pointers and joined once: one allocation per
  // path, whatever its depth.
  std::vector<std::string_view> parts;
  std::size_t length = 0;
  for (int depth = 0; id != kRootId && depth < 4096; ++depth) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node) break;
    parts.emplace_back(node->name ? node->name : "");
    length += parts.back().size() + 1;
    if (node->parentId == id) break;
    id = node->parentId;
  }
  std::string path;
  path.reserve(length);
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

namespace {

// The columns of a listing line, formatted by hand into one buffer: a
// volume of a million entries would otherwise spend most of its listing in
// printf. Each gives what its printf conversion gave.
void AppendNumber(std::string& out, std::uint64_t value, std::size_t width) {  // %<width>u
  char digits[20];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (n < width) out.append(width - n, ' ');
  while (n > 0) out += digits[--n];
}

void AppendDigits(std::string& out, unsigned value, int count) {  // %0<count>u of a small value
  char digits[4];
  for (int i = count - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(digits, static_cast<std::size_t>(count));
}

void AppendTime(std::string& out, PackedTime t) {  // as FormatPackedTime
  if (t == 0) {
    out += '-';
    return;
  }
  AppendDigits(out, (t >> 26) + 1980, 4);
  out += '-';
  AppendDigits(out, (t >> 22) & 15, 2);
  out += '-';
  AppendDigits(out, (t >> 17) & 31, 2);
  out += ' ';
  AppendDigits(out, (t >> 12) & 31, 2);
  out += ':';
  AppendDigits(out, (t >> 6) & 63, 2);
  out += ':';
  AppendDigits(out, t & 63, 2);
}

void AppendLeft(std::string& out, std::string_view text, std::size_t width) {  // %-<width>s
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

// A path that PrintableText would leave as it is: printable ASCII without
// a backslash.
bool PlainAscii(std::string_view text) {
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F || c == '\\') return false;
  }
  return true;
}

}  // namespace

void PrintTreeText(int number, const PartitionInfo& info, const std::vector<TreeEntry>& entries) {
  std::printf("# volume %d: %s \"%s\", start %llu, %llu sectors, %zu entries\n", number,
              info.fsName.c_str(), PrintableText(info.volumeLabel).c_str(),
              static_cast<unsigned long long>(info.startLba),
              static_cast<unsigned long long>(info.sectorCount), entries.size());
  constexpr std::size_t kFlushBytes = 1 << 20;
  std::string out;
  out.reserve(kFlushBytes + 4096);
  for (const TreeEntry& e : entries) {
    const NodeKind kind = KindOf(*e.node);
    out += IsFolderKind(kind) ? 'd' : 'r';
    out += ' ';
    AppendLeft(out, IsDeletedKind(kind) ? "deleted" : "live", 7);
    out += ' ';
    AppendNumber(out, e.node->id, 7);
    out += ' ';
    AppendNumber(out, e.node->size, 12);
    out += "  ";
    AppendTime(out, e.node->created);
    out += "  ";
    AppendTime(out, e.node->modified);
    out += "  ";
    AppendLeft(out, StateColumnText(e.state), 23);
    out += "  ";
    if (PlainAscii(e.path))
      out += e.path;
    else
      out += PrintableText(e.path);
    out += '\n';
    if (out.size() >= kFlushBytes) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
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
      if (!e.state.overwrittenBy.empty()) entry["overwrittenBy"] = JsonText(e.state.overwrittenBy);
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
