// Addressing by (row, col): resolution through the classification trees,
// visibility in the filter view, texts, paths and children.
#include <algorithm>

#include "catalog/catalog_labels.h"
#include "catalog/child_list.h"
#include "catalog/file_types.h"
#include "catalog/found_file_catalog.h"

namespace ambrel {
namespace {

bool IsClassRow(std::uint32_t row) { return row >= kClassRow && row < kClassRow + 3; }

}  // namespace

bool FoundFileCatalog::ResolveRef(std::uint32_t row, std::uint32_t col, Ref& ref) const {
  if (row < kClassRow) {
    if (row >= partitionCount() || !slots_[row]) return false;
    ref.slot = row;
    ref.id = col;
    return true;
  }
  if (!IsClassRow(row)) return false;
  const ClassTable& tree = classTrees_[row - kClassRow];
  {
    std::lock_guard<std::mutex> hold(tree.guard);
    const ClassNode* n = ClassNodeAt(tree, col);
    if (!n) return false;
    ref.slot = n->slot;
    ref.id = n->nodeId;
  }
  return ref.slot < partitionCount() && slots_[ref.slot];
}

bool FoundFileCatalog::VisibleRef(const Ref& ref) const {
  const FoundFileTable& table = slots_[ref.slot]->table;
  std::lock_guard<std::mutex> hold(table.guard);
  const FoundFileNode* n = NodeAt(table, ref.id);
  return n && (viewMode() != ViewMode::kFilter || (n->flags & kFlagFilterHit));
}

bool FoundFileCatalog::Visible(std::uint32_t row, std::uint32_t col) const {
  Ref ref;
  return ResolveRef(row, col, ref) && VisibleRef(ref);
}

std::vector<std::uint32_t> FoundFileCatalog::RawChildren(std::uint32_t row, std::uint32_t col) const {
  if (row < kClassRow) {
    if (row >= partitionCount() || !slots_[row]) return {};
    return ChildIdsOf(slots_[row]->table, col);
  }
  if (!IsClassRow(row)) return {};
  const ClassTable& tree = classTrees_[row - kClassRow];
  std::lock_guard<std::mutex> hold(tree.guard);
  const ClassNode* n = ClassNodeAt(tree, col);
  if (!n) return {};
  return std::vector<std::uint32_t>(n->childIds, n->childIds + ChildCountOf(*n));
}

std::uint32_t FoundFileCatalog::ParentIn(std::uint32_t row, std::uint32_t col) const {
  if (row < kClassRow) {
    if (row >= partitionCount() || !slots_[row]) return 0;
    const FoundFileTable& table = slots_[row]->table;
    std::lock_guard<std::mutex> hold(table.guard);
    const FoundFileNode* n = NodeAt(table, col);
    return n ? n->parentId : 0;
  }
  if (!IsClassRow(row)) return 0;
  const ClassTable& tree = classTrees_[row - kClassRow];
  std::lock_guard<std::mutex> hold(tree.guard);
  const ClassNode* n = ClassNodeAt(tree, col);
  return n ? n->parentId : 0;
}

bool FoundFileCatalog::IsFolderAt(std::uint32_t row, std::uint32_t col) const {
  Ref ref;
  if (!ResolveRef(row, col, ref)) return false;
  const FoundFileTable& table = slots_[ref.slot]->table;
  std::lock_guard<std::mutex> hold(table.guard);
  const FoundFileNode* n = NodeAt(table, ref.id);
  return n && IsFolderKind(KindOf(*n));
}

std::optional<FoundFileNode> FoundFileCatalog::GetNode(std::uint32_t row, std::uint32_t col) const {
  std::shared_lock<std::shared_mutex> hold(slotsLock_);
  Ref ref;
  if (!ResolveRef(row, col, ref) || !VisibleRef(ref)) return std::nullopt;
  FoundFileNode out;
  if (!CopyNodeAt(slots_[ref.slot]->table, ref.id, out)) return std::nullopt;
  return out;
}

bool FoundFileCatalog::Resolve(std::uint32_t row, std::uint32_t col, std::uint32_t& slot,
                               std::uint32_t& id) const {
  std::shared_lock<std::shared_mutex> hold(slotsLock_);
  Ref ref;
  if (!ResolveRef(row, col, ref) || !VisibleRef(ref)) return false;
  slot = ref.slot;
  id = ref.id;
  return true;
}

std::vector<std::uint32_t> FoundFileCatalog::GetChildren(std::uint32_t row, std::uint32_t col,
                                                         bool onlyWithChildren) const {
  std::shared_lock<std::shared_mutex> hold(slotsLock_);
  if (!Visible(row, col)) return {};
  std::vector<std::uint32_t> out;
  for (std::uint32_t c : RawChildren(row, col)) {
    if (c == kRootId || !Visible(row, c)) continue;
    if (onlyWithChildren && RawChildren(row, c).empty()) continue;
    out.push_back(c);
  }
  return out;
}

std::vector<std::uint32_t> FoundFileCatalog::GetPath(std::uint32_t row, std::uint32_t col) const {
  std::shared_lock<std::shared_mutex> hold(slotsLock_);
  if (!Visible(row, col)) return {};
  std::vector<std::uint32_t> path{col};
  std::uint32_t x = col;
  // A path longer than the id space means a broken chain: stop there.
  while (x != kRootId && path.size() <= kMaxClassRecords) {
    x = ParentIn(row, x);
    if (!x) break;
    path.push_back(x);
  }
  return path;
}

std::string FoundFileCatalog::RowLabel(std::uint32_t row) const {
  if (IsClassRow(row)) {
    const ClassTable& tree = classTrees_[row - kClassRow];
    std::lock_guard<std::mutex> hold(tree.guard);
    return ClassTreeLabel(row - kClassRow, tree.fileCount);
  }
  if (row < kSignatureSlot || row >= partitionCount() || !slots_[row]) return {};
  const PartitionInfo& part = *slots_[row];
  std::string letter;
  if (part.table.hasDriveLetter && driveLetterOf) letter = driveLetterOf(part);
  std::lock_guard<std::mutex> hold(part.table.guard);
  return PartitionLabel(row, part, letter);
}

std::string FoundFileCatalog::GetLabel(std::uint32_t row) const {
  std::shared_lock<std::shared_mutex> hold(slotsLock_);
  return RowLabel(row);
}

std::string FoundFileCatalog::GetItemText(std::uint32_t row, std::uint32_t col) const {
  std::shared_lock<std::shared_mutex> hold(slotsLock_);
  Ref ref;
  if (!ResolveRef(row, col, ref) || !VisibleRef(ref)) return {};
  if (col == kRootId) return RowLabel(row);
  const FoundFileTable& table = slots_[ref.slot]->table;
  std::lock_guard<std::mutex> guard(table.guard);
  const FoundFileNode* n = NodeAt(table, ref.id);
  if (!n) return {};
  if (IsFolderKind(KindOf(*n))) return FolderText(n->name, n->fileCount);
  return n->name;
}

std::uint32_t FoundFileCatalog::FirstVisibleFile(std::uint32_t row,
                                                 const std::vector<std::uint32_t>& ids) const {
  if (ids.empty()) return 0;
  std::shared_lock<std::shared_mutex> hold(slotsLock_);
  for (std::uint32_t id : ids) {
    Ref ref;
    if (!ResolveRef(row, id, ref) || !VisibleRef(ref)) continue;
    const FoundFileTable& table = slots_[ref.slot]->table;
    std::lock_guard<std::mutex> guard(table.guard);
    const FoundFileNode* n = NodeAt(table, ref.id);
    if (n && IsFileKind(KindOf(*n)) && (IsImagePreviewName(n->name) || IsTextPreviewName(n->name)))
      return id;
  }
  return ids.front();
}

}  // namespace ambrel
