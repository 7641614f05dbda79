#include "catalog/folder_names.h"
#include "catalog/node_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/settings.h"
#include "catalog/child_list.h"
#include "catalog/file_types.h"
#include "catalog/node_growth.h"
#include "catalog/node_table_locked.h"
#include "common/text.h"

namespace ambrel {
namespace {

constexpr const char* kLostFolderName = kLostFilesFolderName;

FoundFileNode* Nodes(const FoundFileTable& table) {
  return table.nodes.load(std::memory_order_acquire);
}

bool LiveIn(const FoundFileNode* nodes, std::uint32_t count, std::uint32_t id) {
  return nodes && id < count && nodes[id].id == id && nodes[id].name != nullptr;
}

bool FolderIn(const FoundFileNode* nodes, std::uint32_t count, std::uint32_t id) {
  return LiveIn(nodes, count, id) && IsFolderKind(KindOf(nodes[id]));
}

void FreeHeapFields(FoundFileNode& n) {
  FreeChildren(n);
  std::free(n.extra);
  n.extra = nullptr;
}

FoundFileNode MakeFolder(std::uint32_t id, std::uint32_t parent, NodeKind kind) {
  FoundFileNode n{};
  n.id = id;
  n.parentId = parent;
  n.typeCode = kTypeUnknown;
  SetKind(n, kind);
  return n;
}

// Makes sure the lost folder is a live kind-2 folder under the root.
void EnsureLostFolder(FoundFileTable& table) {
  FoundFileNode* nodes = Nodes(table);
  if (LiveIn(nodes, table.count, kLostFolderId)) {
    nodes[kLostFolderId].parentId = kRootId;
    if (!IsFolderKind(KindOf(nodes[kLostFolderId]))) SetKind(nodes[kLostFolderId], kDeletedFolder);
    return;
  }
  locked::AddNode(table, MakeFolder(kLostFolderId, kRootId, kDeletedFolder), kLostFolderName,
                  false);
}

// Counts a newly linked file in its ancestors below the root.
void CountFileUpward(FoundFileTable& table, std::uint32_t parent) {
  FoundFileNode* nodes = Nodes(table);
  std::uint32_t x = parent;
  for (std::uint32_t steps = 0; x != kRootId && LiveIn(nodes, table.count, x) && steps < table.count;
       ++steps) {
    nodes[x].fileCount = nodes[x].fileCount + 1;
    x = nodes[x].parentId;
  }
  ++table.fileCount;
}

// Cuts every parent cycle at the node where it closes: that node moves to
// the lost folder, so every live node's chain reaches the root.
void BreakParentCycles(FoundFileTable& table) {
  FoundFileNode* nodes = Nodes(table);
  const std::uint32_t count = table.count;
  enum : std::uint8_t { kUnknown = 0, kOnPath = 1, kReachesRoot = 2 };
  std::vector<std::uint8_t> state(count, kUnknown);
  std::vector<std::uint32_t> path;
  state[kRootId] = kReachesRoot;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!LiveIn(nodes, count, i) || state[i] != kUnknown) continue;
    path.clear();
    std::uint32_t x = i;
    while (state[x] == kUnknown) {
      state[x] = kOnPath;
      path.push_back(x);
      x = nodes[x].parentId;  // valid: LinkAll set every parent to a live folder
    }
    if (state[x] == kOnPath) nodes[x].parentId = kLostFolderId;
    for (std::uint32_t p : path) state[p] = kReachesRoot;
  }
}

// Gives every folder a list of exactly the size LinkAll will fill (growth
// by half would leave a quarter of the lists unused on average).
void SizeChildLists(FoundFileTable& table) {
  FoundFileNode* nodes = Nodes(table);
  const std::uint32_t count = table.count;
  std::vector<std::uint32_t> children(count, 0);
  for (std::uint32_t i = 0; i < count; ++i)
    if (i != kRootId && LiveIn(nodes, count, i)) ++children[nodes[i].parentId];
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!LiveIn(nodes, count, i)) continue;
    FoundFileNode& n = nodes[i];
    const std::uint32_t need = children[i];
    if (n.childIds && n.childCapacity >= need && n.childCapacity <= need + need / 4) continue;
    ReserveChildren(n, need);
  }
}

}  // namespace

FoundFileTable::FoundFileTable(FoundFileTable&& other) noexcept { *this = std::move(other); }

FoundFileTable& FoundFileTable::operator=(FoundFileTable&& other) noexcept {
  if (this == &other) return *this;
  FreeTable(*this);
  nodes.store(other.nodes.exchange(nullptr), std::memory_order_release);
  capacity = std::exchange(other.capacity, 0);
  count = std::exchange(other.count, 0);
  fileCount = std::exchange(other.fileCount, 0);
  listingScope = std::exchange(other.listingScope, 0);
  hasDriveLetter = std::exchange(other.hasDriveLetter, 0);
  isSignatureTable = std::exchange(other.isSignatureTable, false);
  names = std::move(other.names);
  return *this;
}

FoundFileTable::~FoundFileTable() { FreeTable(*this); }

bool IsLive(const FoundFileTable& table, std::uint32_t id) {
  return LiveIn(Nodes(table), table.count, id);
}

FoundFileNode* NodeAt(FoundFileTable& table, std::uint32_t id) {
  FoundFileNode* nodes = Nodes(table);
  return LiveIn(nodes, table.count, id) ? &nodes[id] : nullptr;
}

const FoundFileNode* NodeAt(const FoundFileTable& table, std::uint32_t id) {
  const FoundFileNode* nodes = Nodes(table);
  return LiveIn(nodes, table.count, id) ? &nodes[id] : nullptr;
}

bool IsFolderNode(const FoundFileTable& table, std::uint32_t id) {
  return FolderIn(Nodes(table), table.count, id);
}

char* CopyNodeName(std::string_view utf8) {
  auto* out = static_cast<char*>(std::malloc(utf8.size() + 1));
  if (!out) return nullptr;
  std::memcpy(out, utf8.data(), utf8.size());
  out[utf8.size()] = '\0';
  return out;
}

char* CopyNodeName(const char* utf8) {
  return CopyNodeName(std::string_view(utf8 ? utf8 : ""));
}

bool InitTable(FoundFileTable& table) {
  std::lock_guard<std::mutex> hold(table.guard);
  if (!locked::AddNode(table, MakeFolder(kRootId, kRootId, kPresentFolder), ".", false))
    return false;
  return locked::AddNode(table, MakeFolder(kLostFolderId, kRootId, kDeletedFolder),
                         kLostFolderName, false) != 0;
}

std::uint32_t AddNode(FoundFileTable& table, const FoundFileNode& node, bool link) {
  std::uint32_t id = 0;
  if (node.name) {
    std::lock_guard<std::mutex> hold(table.guard);
    id = locked::AddNode(table, node, node.name, link);
  }
  if (!id) {
    std::free(node.childIds);
    std::free(node.extra);
  }
  std::free(node.name);
  return id;
}

std::uint32_t AddNodeNamed(FoundFileTable& table, const FoundFileNode& node, std::string_view name,
                           bool link) {
  std::uint32_t id;
  {
    std::lock_guard<std::mutex> hold(table.guard);
    id = locked::AddNode(table, node, name, link);
  }
  if (!id) {
    std::free(node.childIds);
    std::free(node.extra);
  }
  return id;
}

void LinkAll(FoundFileTable& table) {
  std::lock_guard<std::mutex> hold(table.guard);
  locked::LinkAll(table);
}

void RemoveNode(FoundFileTable& table, std::uint32_t id) {
  std::lock_guard<std::mutex> hold(table.guard);
  locked::RemoveNode(table, id);
}

void Compact(FoundFileTable& table) {
  std::lock_guard<std::mutex> hold(table.guard);
  locked::Compact(table);
}

void SplitLostFolder(FoundFileTable& table) {
  std::lock_guard<std::mutex> hold(table.guard);
  locked::SplitLostFolder(table);
}

std::uint32_t CountLive(const FoundFileTable& table) {
  const FoundFileNode* nodes = Nodes(table);
  std::uint32_t live = 0;
  for (std::uint32_t i = 0; i < table.count; ++i) live += LiveIn(nodes, table.count, i);
  return live;
}

std::uint32_t PruneAndCount(FoundFileTable& table, std::uint32_t id) {
  std::lock_guard<std::mutex> hold(table.guard);
  return locked::PruneAndCount(table, id);
}

bool RenameNode(FoundFileTable& table, std::uint32_t id, std::string_view utf8) {
  std::lock_guard<std::mutex> hold(table.guard);
  return locked::Rename(table, id, utf8);
}

void FreeTable(FoundFileTable& table) {
  std::lock_guard<std::mutex> hold(table.guard);
  locked::Free(table);
}

namespace {

bool CopyHeapFields(FoundFileNode& n) {
  if (n.childIds) {
    const std::uint32_t used = ChildCountOf(n);
    const std::uint32_t* from = n.childIds;
    n.childIds = nullptr;
    n.childCount = n.childCapacity = 0;
    if (used && !ReserveChildren(n, used)) return false;
    if (used) std::memcpy(n.childIds, from, std::size_t(used) * sizeof(std::uint32_t));
    n.childCount = used;
  }
  if (n.extra) {
    const void* from = n.extra;
    const std::uint64_t bytes = ExtraBytes(n);
    n.extra = bytes ? std::malloc(bytes) : nullptr;
    if (bytes && !n.extra) return false;
    if (n.extra) std::memcpy(n.extra, from, bytes);
  }
  return true;
}

}  // namespace

bool DuplicateTable(const FoundFileTable& src, FoundFileTable& dst) {
  FreeTable(dst);
  std::lock_guard<std::mutex> hold(src.guard);
  std::lock_guard<std::mutex> own(dst.guard);
  dst.fileCount = src.fileCount;
  dst.listingScope = src.listingScope;
  dst.hasDriveLetter = src.hasDriveLetter;
  dst.isSignatureTable = src.isSignatureTable;
  const FoundFileNode* from = Nodes(src);
  if (!from || src.count == 0) return true;
  if (!ResizeNodeArray(dst.nodes, dst.capacity, 0, src.count)) return false;
  FoundFileNode* to = Nodes(dst);
  dst.count = src.count;
  for (std::uint32_t i = 0; i < src.count; ++i) {
    if (!LiveIn(from, src.count, i)) continue;
    std::memcpy(static_cast<void*>(&to[i]), &from[i], sizeof(FoundFileNode));
    to[i].name = dst.names.Copy(from[i].name);
    if (!to[i].name || !CopyHeapFields(to[i])) {
      to[i].childIds = nullptr;
      to[i].extra = nullptr;
      locked::Free(dst);
      return false;
    }
  }
  return true;
}

void AddSelected(const FoundFileTable& table, SelectionTotal& total) {
  std::lock_guard<std::mutex> hold(table.guard);
  const FoundFileNode* nodes = Nodes(table);
  for (std::uint32_t i = 0; i < table.count; ++i) {
    if (!LiveIn(nodes, table.count, i)) continue;
    const FoundFileNode& n = nodes[i];
    if (IsFileKind(KindOf(n)) && CheckStateOf(n) != 0) {
      ++total.files;
      total.bytes += n.size;
    }
  }
}

bool CopyNodeAt(const FoundFileTable& table, std::uint32_t id, FoundFileNode& out) {
  std::lock_guard<std::mutex> hold(table.guard);
  const FoundFileNode* n = NodeAt(table, id);
  if (!n) return false;
  std::memcpy(static_cast<void*>(&out), n, sizeof out);
  return true;
}

std::vector<std::uint32_t> ChildIdsOf(const FoundFileTable& table, std::uint32_t id) {
  std::lock_guard<std::mutex> hold(table.guard);
  const FoundFileNode* n = NodeAt(table, id);
  if (!n) return {};
  const std::uint32_t* ids = n->childIds;
  return std::vector<std::uint32_t>(ids, ids + ChildCountOf(*n));
}

namespace locked {

std::uint32_t AddNode(FoundFileTable& table, const FoundFileNode& node, std::string_view name,
                      bool link) {
  // The next free slot never falls on the reserved slots 0-5.
  const bool nextSlot = node.id == 0;
  const std::uint32_t slot = nextSlot ? std::max<std::uint32_t>(table.count, kRootId + 1) : node.id;
  if (slot > kMaxNodeId) return 0;
  if (!EnsureNodeSlot(table.nodes, table.capacity, table.count, slot, !nextSlot, kMaxNodeRecords))
    return 0;
  char* stored = table.names.Copy(name);
  if (!stored) return 0;
  FoundFileNode* nodes = Nodes(table);
  if (LiveIn(nodes, table.count, slot)) FreeHeapFields(nodes[slot]);
  FoundFileNode& record = nodes[slot];
  std::memcpy(static_cast<void*>(&record), &node, sizeof record);
  record.id = slot;
  record.name = stored;
  if (IsFileKind(KindOf(record)) && !table.isSignatureTable) record.typeCode = TypeCodeOfName(name);
  if (slot >= table.count) table.count = slot + 1;
  if (!link || slot == kRootId) return slot;
  const std::uint32_t parent = record.parentId;
  if (parent == slot || !FolderIn(nodes, table.count, parent)) return slot;
  if (!AppendChild(nodes[parent], slot)) return slot;
  if (IsFileKind(KindOf(record))) CountFileUpward(table, parent);
  return slot;
}

void LinkAll(FoundFileTable& table) {
  FoundFileNode* nodes = Nodes(table);
  if (!LiveIn(nodes, table.count, kRootId)) return;
  EnsureLostFolder(table);
  nodes = Nodes(table);
  const std::uint32_t count = table.count;
  nodes[kRootId].parentId = kRootId;
  if (!IsFolderKind(KindOf(nodes[kRootId]))) SetKind(nodes[kRootId], kPresentFolder);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!LiveIn(nodes, count, i)) continue;
    nodes[i].childCount = 0;
    if (i != kRootId && !FolderIn(nodes, count, nodes[i].parentId))
      nodes[i].parentId = kLostFolderId;
  }
  BreakParentCycles(table);
  SizeChildLists(table);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (i == kRootId || !LiveIn(nodes, count, i)) continue;
    AppendChild(nodes[nodes[i].parentId], i);
  }
}

void RemoveNode(FoundFileTable& table, std::uint32_t id) {
  FoundFileNode* nodes = Nodes(table);
  if (!nodes || id >= table.count) return;
  FreeHeapFields(nodes[id]);
  std::memset(static_cast<void*>(&nodes[id]), 0, sizeof(FoundFileNode));
}

bool Rename(FoundFileTable& table, std::uint32_t id, std::string_view utf8) {
  FoundFileNode* n = NodeAt(table, id);
  if (!n) return false;
  char* copy = table.names.Copy(utf8);
  if (!copy) return false;
  n->name = copy;
  return true;
}

void Free(FoundFileTable& table) {
  FoundFileNode* nodes = table.nodes.exchange(nullptr, std::memory_order_acq_rel);
  if (nodes) {
    const std::uint32_t used = table.count < table.capacity ? table.count : table.capacity;
    for (std::uint32_t i = 0; i < used; ++i) FreeHeapFields(nodes[i]);
    DeferNodeArray(nodes, table.capacity);
  }
  table.capacity = 0;
  table.count = 0;
  table.fileCount = 0;
  table.names.Clear();
}

}  // namespace locked
}  // namespace ambrel
