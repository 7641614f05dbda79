// Compaction, the lost-folder split and the "ShowAllFile" pruning pass.
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/settings.h"
#include "catalog/child_list.h"
#include "catalog/file_types.h"
#include "catalog/node_growth.h"
#include "catalog/node_table_locked.h"
#include "common/text.h"

namespace ambrel::locked {
namespace {

constexpr std::uint32_t kCompactDeadSlots = 5000;
constexpr std::uint32_t kShrinkSpareRecords = 3000;
constexpr std::uint32_t kLostGroupSize = 300;

FoundFileNode* Nodes(const FoundFileTable& table) {
  return table.nodes.load(std::memory_order_acquire);
}

bool Live(const FoundFileNode* nodes, std::uint32_t count, std::uint32_t id) {
  return nodes && id < count && nodes[id].id == id && nodes[id].name != nullptr;
}

// Moves live slots from 5 upward down into the gaps; returns the map from
// old to new slot (0 for a dead slot).
std::vector<std::uint32_t> CloseGaps(FoundFileNode* nodes, std::uint32_t count) {
  std::vector<std::uint32_t> moved(count, 0);
  for (std::uint32_t i = 0; i < kRootId && i < count; ++i) moved[i] = Live(nodes, count, i) ? i : 0;
  std::uint32_t write = kRootId;
  for (std::uint32_t j = kRootId; j < count; ++j) {
    if (!Live(nodes, count, j)) continue;
    if (j != write) {
      std::memcpy(static_cast<void*>(&nodes[write]), &nodes[j], sizeof(FoundFileNode));
      std::memset(static_cast<void*>(&nodes[j]), 0, sizeof(FoundFileNode));
      nodes[write].id = write;
    }
    moved[j] = write++;
  }
  return moved;
}

// Rewrites parent ids and child lists after CloseGaps; children that lead
// to dead slots are dropped from the lists.
void RewriteLinks(FoundFileNode* nodes, std::uint32_t liveEnd, const std::vector<std::uint32_t>& moved) {
  const std::uint32_t oldCount = static_cast<std::uint32_t>(moved.size());
  for (std::uint32_t i = 0; i < liveEnd; ++i) {
    if (!Live(nodes, liveEnd, i)) continue;
    FoundFileNode& n = nodes[i];
    const std::uint32_t p = n.parentId;
    if (p < oldCount) n.parentId = moved[p] ? moved[p] : kLostFolderId;
    std::uint32_t* ids = n.childIds;
    const std::uint32_t used = ChildCountOf(n);
    std::uint32_t kept = 0;
    for (std::uint32_t k = 0; k < used; ++k) {
      const std::uint32_t c = ids[k];
      if (c < oldCount && moved[c]) ids[kept++] = moved[c];
    }
    if (ids) n.childCount = kept;
  }
}

std::uint32_t HighestLive(const FoundFileNode* nodes, std::uint32_t count) {
  for (std::uint32_t i = count; i > 0; --i)
    if (Live(nodes, count, i - 1)) return i - 1;
  return 0;
}

std::uint32_t FilesUnder(const FoundFileNode* nodes, std::uint32_t count, std::uint32_t id) {
  if (!Live(nodes, count, id)) return 0;
  return IsFileKind(KindOf(nodes[id])) ? 1 : nodes[id].fileCount;
}

}  // namespace

void Compact(FoundFileTable& table) {
  FoundFileNode* nodes = Nodes(table);
  if (!nodes) return;
  std::uint32_t live = 0;
  for (std::uint32_t i = 0; i < table.count; ++i) live += Live(nodes, table.count, i);
  if (table.count > kRootId && table.count - live > kCompactDeadSlots) {
    const std::vector<std::uint32_t> moved = CloseGaps(nodes, table.count);
    std::uint32_t liveEnd = 0;
    for (std::uint32_t m : moved) liveEnd = m + 1 > liveEnd ? m + 1 : liveEnd;
    RewriteLinks(nodes, liveEnd, moved);
  }
  const std::uint32_t highest = HighestLive(nodes, table.count);
  table.count = Live(nodes, table.count, highest) ? highest + 1 : 0;
  if (table.count && table.capacity > table.count + kShrinkSpareRecords)
    ResizeNodeArray(table.nodes, table.capacity, table.count, table.count);
}

void SplitLostFolder(FoundFileTable& table) {
  FoundFileNode* nodes = Nodes(table);
  if (!Live(nodes, table.count, kLostFolderId)) return;
  const FoundFileNode& lost = nodes[kLostFolderId];
  const std::uint32_t total = ChildCountOf(lost);
  if (total <= kLostGroupSize) return;
  const std::uint32_t groups = (total + kLostGroupSize - 1) / kLostGroupSize;
  if (table.count > kMaxNodeId || kMaxNodeRecords - table.count < groups) return;
  const std::vector<std::uint32_t> children(lost.childIds, lost.childIds + total);
  std::vector<std::uint32_t> folders;
  folders.reserve(groups);
  for (std::uint32_t g = 0; g < groups; ++g) {
    FoundFileNode folder{};
    folder.parentId = kLostFolderId;
    folder.typeCode = kTypeUnknown;
    SetKind(folder, kDeletedFolder);
    const std::uint32_t id = locked::AddNode(table, folder, Format("%03u", g), false);
    if (!id) break;
    nodes = Nodes(table);
    if (!ReserveChildren(nodes[id], kLostGroupSize)) {
      locked::RemoveNode(table, id);
      break;
    }
    std::uint32_t files = 0;
    const std::uint32_t end = std::min<std::uint32_t>(total, (g + 1) * kLostGroupSize);
    for (std::uint32_t k = g * kLostGroupSize; k < end; ++k) {
      AppendChild(nodes[id], children[k]);
      if (Live(nodes, table.count, children[k])) nodes[children[k]].parentId = id;
      files += FilesUnder(nodes, table.count, children[k]);
    }
    nodes[id].fileCount = files;
    folders.push_back(id);
  }
  if (folders.size() != groups) {
    // Not every group could be made: put the children back where they were.
    for (std::uint32_t f : folders) {
      for (std::uint32_t k = 0; k < ChildCountOf(nodes[f]); ++k) {
        const std::uint32_t c = nodes[f].childIds[k];
        if (Live(nodes, table.count, c)) nodes[c].parentId = kLostFolderId;
      }
      locked::RemoveNode(table, f);
    }
    return;
  }
  FoundFileNode& owner = nodes[kLostFolderId];
  owner.childCount = 0;
  for (std::uint32_t f : folders) AppendChild(owner, f);
}

std::uint32_t PruneAndCount(FoundFileTable& table, std::uint32_t start) {
  FoundFileNode* nodes = Nodes(table);
  const std::uint32_t count = table.count;
  if (!Live(nodes, count, start)) return 0;
  const bool showAll = SettingOn("ShowAllFile");
  const bool restricted = RestrictedTypeProfile();

  // Children before parents: a depth-first order, walked backwards. Each
  // node is visited once, whatever its list entries claim.
  std::vector<std::uint32_t> order;
  std::vector<std::uint8_t> seen(count, 0);
  std::vector<std::uint32_t> stack{start};
  seen[start] = 1;
  while (!stack.empty()) {
    const std::uint32_t id = stack.back();
    stack.pop_back();
    order.push_back(id);
    if (!IsFolderKind(KindOf(nodes[id]))) continue;
    const std::uint32_t* ids = nodes[id].childIds;
    for (std::uint32_t k = 0, n = ChildCountOf(nodes[id]); k < n; ++k) {
      const std::uint32_t c = ids[k];
      if (c == kRootId || !Live(nodes, count, c) || seen[c]) continue;
      seen[c] = 1;
      stack.push_back(c);
    }
  }

  std::vector<std::uint32_t> kept(count, 0);
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const std::uint32_t id = *it;
    FoundFileNode& n = nodes[id];
    if (IsFileKind(KindOf(n))) {
      if (showAll || TypeAdmittedIn(n.typeCode, restricted)) {
        kept[id] = 1;
      } else {
        locked::RemoveNode(table, id);
      }
      continue;
    }
    std::uint32_t sum = 0;
    bool anyRemoved = false;
    std::uint32_t* ids = n.childIds;
    const std::uint32_t used = ChildCountOf(n);
    for (std::uint32_t k = 0; k < used; ++k) {
      const std::uint32_t c = ids[k];
      if (c == kRootId) continue;
      if (!Live(nodes, count, c)) anyRemoved = true;
      else sum += kept[c];
    }
    n.fileCount = sum;
    if (anyRemoved) {
      std::uint32_t w = 0;
      for (std::uint32_t k = 0; k < used; ++k)
        if (ids[k] != kRootId && ids[k] < count && kept[ids[k]] > 0) ids[w++] = ids[k];
      n.childCount = w;
    }
    if (id != kRootId && ChildCountOf(n) == 0) {
      locked::RemoveNode(table, id);
      continue;
    }
    kept[id] = sum;
  }
  return kept[start];
}

}  // namespace ambrel::locked
