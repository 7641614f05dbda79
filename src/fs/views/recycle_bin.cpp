#include "fs/views/recycle_bin.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "catalog/node_table.h"
#include "common/text.h"

namespace ambrel {
namespace {

constexpr std::uint32_t kRecycleSearchEnd = 1024;
constexpr int kMaxDepth = 4096;

bool IsDeletedKind(NodeKind k) { return k == kDeletedFile || k == kDeletedFolder; }

std::vector<std::uint32_t> ChildrenOf(const FoundFileNode& node) {
  if (!node.childIds) return {};
  return std::vector<std::uint32_t>(node.childIds, node.childIds + node.childCount);
}

// Replaces a node's child list with `ids` (heap array owned by the node).
void SetChildren(FoundFileNode& node, const std::vector<std::uint32_t>& ids) {
  std::free(node.childIds);
  node.childIds = nullptr;
  node.childCount = node.childCapacity = 0;
  if (ids.empty()) return;
  auto* p = static_cast<std::uint32_t*>(std::malloc(ids.size() * sizeof(std::uint32_t)));
  if (!p) return;
  std::memcpy(p, ids.data(), ids.size() * sizeof(std::uint32_t));
  node.childIds = p;
  node.childCount = node.childCapacity = static_cast<std::uint32_t>(ids.size());
}

void FreeSubtree(FoundFileTable& table, std::uint32_t id, int depth) {
  FoundFileNode* node = NodeAt(table, id);
  if (!node || id == kRootId) return;
  if (depth < kMaxDepth)
    for (std::uint32_t child : ChildrenOf(*node))
      if (child != id) FreeSubtree(table, child, depth + 1);
  RemoveNode(table, id);
}

bool KeepKindAt(FoundFileTable& table, std::uint32_t folderId, KeepMode mode, int depth) {
  FoundFileNode* folder = NodeAt(table, folderId);
  if (!folder) return false;
  if (IsDeletedKind(KindOf(*folder))) {
    if (mode == KeepMode::kDeleted) return true;
    if (mode == KeepMode::kPresent) mode = KeepMode::kNothing;
  }
  std::vector<std::uint32_t> children = ChildrenOf(*folder), kept;
  for (std::uint32_t id : children) {
    FoundFileNode* child = id == folderId || id == kRootId ? nullptr : NodeAt(table, id);
    if (!child) continue;
    NodeKind k = KindOf(*child);
    bool keep;
    if (IsFolderKind(k)) {
      keep = depth < kMaxDepth && KeepKindAt(table, id, mode, depth + 1);
      if (!keep) FreeSubtree(table, id, depth + 1);
    } else {
      keep = (mode == KeepMode::kDeleted && IsDeletedKind(k)) || (mode == KeepMode::kPresent && !IsDeletedKind(k));
      if (!keep) RemoveNode(table, id);
    }
    if (keep) kept.push_back(id);
  }
  folder = NodeAt(table, folderId);
  if (kept.size() != children.size()) SetChildren(*folder, kept);
  if (kept.empty() && folderId != kRootId) {
    RemoveNode(table, folderId);
    return false;
  }
  return true;
}

void CollectSubtree(const FoundFileTable& table, std::uint32_t id, std::vector<std::uint32_t>& out,
                    std::vector<bool>& seen, int depth) {
  const FoundFileNode* node = NodeAt(table, id);
  if (!node || id >= seen.size() || seen[id] || depth > kMaxDepth) return;
  seen[id] = true;
  out.push_back(id);
  for (std::uint32_t child : ChildrenOf(*node)) CollectSubtree(table, child, out, seen, depth + 1);
}

// Copies the partition's own fields (everything but the node table).
void CopyFields(const PartitionInfo& s, PartitionInfo& c) {
  c.fsKind = s.fsKind;
  c.startLba = s.startLba;
  c.freeSectors = s.freeSectors;
  c.sectorCount = s.sectorCount;
  c.diskSectorCount = s.diskSectorCount;
  c.removable = s.removable;
  c.bootSector = s.bootSector;
  c.diskNumber = s.diskNumber;
  c.volumeSerial = s.volumeSerial;
  c.diskName = s.diskName;
  c.displayName = s.displayName;
  c.diskPath = s.diskPath;
  c.source = s.source;
  c.volumePath = s.volumePath;
  c.volumeLabel = s.volumeLabel;
  c.fsName = s.fsName;
  c.fat = s.fat;
  c.allocationBitmap = s.allocationBitmap;
  c.clusterOwners = s.clusterOwners;
  c.overlaidBy = s.overlaidBy;
  c.origin = s.origin;
}

}  // namespace

bool IsRecycleBinName(const FoundFileNode& node) {
  return node.name && std::strlen(node.name) == 12 && AsciiUpper(node.name) == "$RECYCLE.BIN";
}

void MarkAsRecycleBin(FoundFileNode& node) {
  std::free(node.name);
  node.name = CopyNodeName(kRecycleBinName);
  SetKind(node, kDeletedFolder);
}

bool CopyPartition(PartitionInfo& source, PartitionInfo& copy) {
  Compact(source.table);
  CopyFields(source, copy);
  FreeTable(copy.table);
  const FoundFileTable& from = source.table;
  for (std::uint32_t id = 0; id < from.count; ++id) {
    const FoundFileNode* n = NodeAt(from, id);
    if (!n) continue;
    FoundFileNode dup = *n;
    dup.name = CopyNodeName(n->name);
    dup.childIds = nullptr;
    dup.childCount = dup.childCapacity = 0;
    dup.extra = nullptr;
    if (const std::uint64_t bytes = ExtraBytes(*n)) {
      dup.extra = std::malloc(bytes);
      if (dup.extra) std::memcpy(dup.extra, n->extra, bytes);
    }
    if (AddNode(copy.table, dup, false) != id) return false;
    FoundFileNode* added = NodeAt(copy.table, id);
    SetChildren(*added, ChildrenOf(*n));
  }
  copy.table.fileCount = from.fileCount;
  copy.table.listingScope = from.listingScope;
  copy.table.hasDriveLetter = from.hasDriveLetter;
  return true;
}

bool KeepKind(PartitionInfo& partition, std::uint32_t folderId, KeepMode mode) {
  return KeepKindAt(partition.table, folderId, mode, 0);
}

bool SplitByDeletion(PartitionInfo& partition, PartitionInfo& copy) {
  if (!CopyPartition(partition, copy)) return false;
  if (IsLive(partition.table, kRootId)) KeepKind(partition, kRootId, KeepMode::kPresent);
  partition.table.listingScope = 1;
  if (IsLive(copy.table, kRootId)) KeepKind(copy, kRootId, KeepMode::kDeleted);
  copy.table.listingScope = 2;
  Compact(partition.table);
  Compact(copy.table);
  return true;
}

bool BuildRecycleBinView(PartitionInfo& partition, PartitionInfo& copy) {
  FoundFileTable& table = partition.table;
  std::uint32_t bin = 0;
  for (std::uint32_t id = kRootId; id <= kRecycleSearchEnd && id < table.count && !bin; ++id) {
    const FoundFileNode* n = NodeAt(table, id);
    if (n && AsciiLower(n->name) == AsciiLower(kRecycleBinName)) bin = id;
  }
  if (!bin) return false;
  std::vector<std::uint32_t> subtree;
  std::vector<bool> seen(table.count, false);
  CollectSubtree(table, bin, subtree, seen, 0);
  bool hasFile = false;
  for (std::uint32_t id : subtree) hasFile |= IsFileKind(KindOf(*NodeAt(table, id)));
  if (!hasFile) return false;
  if (!CopyPartition(partition, copy)) return false;
  // Compaction may have moved the bin: find it again by the same rule.
  std::uint32_t moved = 0;
  for (std::uint32_t id = kRootId; id <= kRecycleSearchEnd && id < copy.table.count && !moved; ++id) {
    const FoundFileNode* n = NodeAt(copy.table, id);
    if (n && AsciiLower(n->name) == AsciiLower(kRecycleBinName)) moved = id;
  }
  if (!moved) return false;
  subtree.clear();
  seen.assign(copy.table.count, false);
  CollectSubtree(copy.table, moved, subtree, seen, 0);
  for (std::uint32_t id = kLostFolderId; id < copy.table.count; ++id)
    if (id != kRootId && !seen[id] && IsLive(copy.table, id)) RemoveNode(copy.table, id);
  FoundFileNode* bin_node = NodeAt(copy.table, moved);
  bin_node->parentId = kRootId;
  SetChildren(*NodeAt(copy.table, kRootId), {moved});
  return true;
}

}  // namespace ambrel
