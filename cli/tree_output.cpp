#include "tree_output.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
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

namespace {

constexpr int kMaxPathDepth = 4096;  // as NodePath: a chain of parents is cut there
constexpr std::uint32_t kNoPath = UINT32_MAX;

// Every node's path, each built once from its parent's: the paths of a
// volume of many files share their folders' paths, so joining each from its
// parents' names again (and giving each its own string) took most of the
// listing. The rule is NodePath's: a '/' before a name once the path is not
// empty, the chain ending at the root, a missing node or a node that is its
// own parent; a chain deeper than NodePath follows is left to NodePath.
class PathBuilder {
 public:
  explicit PathBuilder(const FoundFileTable& table)
      : table_(table), at_(table.count, kNoPath), length_(table.count, 0), depth_(table.count, 0) {}

  // The path of `id` (a live node), appended to `text`; its offset and length.
  std::pair<std::size_t, std::size_t> Build(std::uint32_t id, LargeVector<char>& text) {
    chain_.clear();
    // Up to the first ancestor whose path is known, or to the chain's end.
    std::uint32_t top = id;
    std::size_t topDepth = 0, topAt = 0, topLength = 0;
    for (;;) {
      if (top == kRootId) break;
      const FoundFileNode* node = NodeAt(table_, top);
      if (!node) break;
      if (top < at_.size() && at_[top] != kNoPath) {
        topDepth = depth_[top];
        topAt = at_[top];
        topLength = length_[top];
        break;
      }
      chain_.push_back(top);
      if (chain_.size() > kMaxPathDepth) return Fallback(id, text);
      if (node->parentId == top) break;
      top = node->parentId;
    }
    if (topDepth + chain_.size() > kMaxPathDepth) return Fallback(id, text);
    std::size_t at = topAt, length = topLength, depth = topDepth;
    for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
      const FoundFileNode* node = NodeAt(table_, *it);
      const std::string_view name = node->name ? node->name : "";
      const std::size_t start = text.size();
      // The parent's path lies before `start`: copied once the room is there.
      const std::size_t need = start + length + 1 + name.size();
      if (need > text.capacity()) text.reserve(std::max(need, 2 * text.capacity()));
      text.resize(start + length);
      if (length != 0) std::memcpy(text.data() + start, text.data() + at, length);
      if (length != 0) text.push_back('/');
      text.insert(text.end(), name.begin(), name.end());
      at = start;
      length = text.size() - start;
      ++depth;
      if (*it < at_.size() && at < kNoPath && length < kNoPath) {
        at_[*it] = static_cast<std::uint32_t>(at);
        length_[*it] = static_cast<std::uint32_t>(length);
        depth_[*it] = static_cast<std::uint16_t>(depth);
      }
    }
    return {at, length};
  }

 private:
  std::pair<std::size_t, std::size_t> Fallback(std::uint32_t id, LargeVector<char>& text) {
    const std::string path = NodePath(table_, id);
    const std::size_t start = text.size();
    text.insert(text.end(), path.begin(), path.end());
    return {start, path.size()};
  }

  const FoundFileTable& table_;
  LargeVector<std::uint32_t> at_, length_;
  LargeVector<std::uint16_t> depth_;
  std::vector<std::uint32_t> chain_;
};

}  // namespace

TreeEntries CollectTreeEntries(const FoundFileTable& table) {
  TreeEntries entries;
  PathBuilder paths(table);
  // Sorted as small keys (the path's place in the text and the node), each
  // entry made once in its final place: the same comparisons in the same
  // order as sorting the entries themselves, without moving them around.
  struct Key {
    std::size_t at = 0, length = 0;
    const FoundFileNode* node = nullptr;
  };
  LargeVector<Key> keys;
  keys.reserve(table.count);
  // Room for most volumes' paths at once: a large block is only backed
  // where it is written, while growing it copies every path made so far.
  entries.paths.reserve(std::size_t{table.count} * 48);
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node || id == kRootId) continue;
    if (id == kLostFolderId && node->childCount == 0) continue;
    const auto [at, length] = paths.Build(id, entries.paths);
    keys.push_back({at, length, node});
  }
  const char* text = entries.paths.data();
  // Equal paths (files deleted under one name) keep the table's order.
  auto less = [text](const Key& a, const Key& b) {
    const int order = std::string_view(text + a.at, a.length).compare(std::string_view(text + b.at, b.length));
    return order != 0 ? order < 0 : a.node < b.node;
  };
  auto entry = [text](const Key& k) { return TreeEntry{std::string_view(text + k.at, k.length), k.node}; };
  entries.list.reserve(keys.size());
  // A large volume's keys are sorted as two halves at once and merged.
  constexpr std::size_t kSplitAt = 50000;
  const std::size_t half = keys.size() / 2;
  bool split = false;
  if (keys.size() >= kSplitAt) {
    try {
      std::thread other([&] { std::sort(keys.begin() + half, keys.end(), less); });
      std::sort(keys.begin(), keys.begin() + half, less);
      other.join();
      split = true;
    } catch (const std::system_error&) {
    }
  }
  if (!split) {
    std::sort(keys.begin(), keys.end(), less);
    for (const Key& k : keys) entries.list.push_back(entry(k));
    return entries;
  }
  std::size_t a = 0, b = half;
  while (a < half && b < keys.size()) entries.list.push_back(entry(less(keys[b], keys[a]) ? keys[b++] : keys[a++]));
  while (a < half) entries.list.push_back(entry(keys[a++]));
  while (b < keys.size()) entries.list.push_back(entry(keys[b++]));
  return entries;
}

TreeEntries CollectTreeEntries(const PartitionInfo& volume) {
  TreeEntries entries = CollectTreeEntries(volume.table);
  entries.volume = &volume;
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

namespace {

// One line per entry, as the listing prints it.
void AppendTreeLines(const TreeEntries& entries, std::size_t from, std::size_t to, std::string& out) {
  for (std::size_t i = from; i < to; ++i) {
    const TreeEntry& e = entries.list[i];
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
    AppendLeft(out, StateColumnText(entries.StateOf(e)), 23);
    out += "  ";
    if (PlainAscii(e.path))
      out += e.path;
    else
      out += PrintableText(e.path);
    out += '\n';
  }
}

}  // namespace

void PrintTreeText(int number, const PartitionInfo& info, const TreeEntries& entries) {
  std::printf("# volume %d: %s \"%s\", start %llu, %llu sectors, %zu entries\n", number,
              info.fsName.c_str(), PrintableText(info.volumeLabel).c_str(),
              static_cast<unsigned long long>(info.startLba),
              static_cast<unsigned long long>(info.sectorCount), entries.size());
  // Blocks of entries, written in order. Each file's state is worked out
  // against its volume's cluster map, which only reads: on a large volume a
  // second thread makes every other block while this one makes the rest.
  // The blocks are small enough that their two buffers stay in the cache
  // and are made once: fresh memory for larger ones cost more than the
  // writes they saved.
  constexpr std::size_t kBlock = 1024;
  const std::size_t count = entries.size();
  const std::size_t blocks = (count + kBlock - 1) / kBlock;
  auto range = [&](std::size_t block, std::string& out) {
    out.clear();
    out.reserve(kBlock * 128);  // a line is mostly shorter
    AppendTreeLines(entries, block * kBlock, std::min(count, (block + 1) * kBlock), out);
  };
  auto write = [](const std::string& out) { std::fwrite(out.data(), 1, out.size(), stdout); };
  std::string mine;
  if (blocks < 4) {
    for (std::size_t b = 0; b < blocks; ++b) range(b, mine), write(mine);
    return;
  }
  // The helper makes the odd blocks, one at a time: it starts the next one
  // once the last was written.
  std::mutex lock;
  std::condition_variable changed;
  std::string theirs;
  std::size_t ready = SIZE_MAX, taken = SIZE_MAX;  // the odd block made last, and written last
  bool stop = false;
  auto helper = [&] {
    for (std::size_t b = 1; b < blocks; b += 2) {
      {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return stop || b == 1 || taken == b - 2; });
        if (stop) return;
      }
      range(b, theirs);
      {
        std::lock_guard<std::mutex> hold(lock);
        ready = b;
      }
      changed.notify_all();
    }
  };
  std::thread other;
  try {
    other = std::thread(helper);
  } catch (const std::system_error&) {
    for (std::size_t b = 0; b < blocks; ++b) range(b, mine), write(mine);
    return;
  }
  for (std::size_t b = 0; b < blocks; b += 2) {
    range(b, mine);
    write(mine);
    if (b + 1 >= blocks) break;
    {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return ready == b + 1; });
    }
    write(theirs);
    {
      std::lock_guard<std::mutex> hold(lock);
      taken = b + 1;
    }
    changed.notify_all();
  }
  {
    std::lock_guard<std::mutex> hold(lock);
    stop = true;
  }
  changed.notify_all();
  other.join();
}

Json TreeJson(int number, const PartitionInfo& info, const TreeEntries& entries) {
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
    const ListedFileState state = entries.StateOf(e);
    if (state.overwrite != OverwriteState::kUnknown) {
      entry["state"] = OverwriteStateName(state.overwrite);
      entry["overwrittenPercent"] = state.overwrittenPercent;
      if (!state.overwrittenBy.empty()) entry["overwrittenBy"] = JsonText(state.overwrittenBy);
    }
    if (state.damage != DataDamage::kNone) {
      entry["damage"] = JsonText(DamageReasonText(state));
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
