// Classification of a partition's files into the three trees, and the
// recount of the trees' folders.
#include <algorithm>
#include <vector>

#include "app/progress.h"
#include "catalog/file_types.h"
#include "catalog/found_file_catalog.h"

namespace ambrel {
namespace {

struct FileFacts {
  std::uint32_t id;
  std::uint8_t typeCode;
  PackedTime created;
  PackedTime modified;
};

// Files among slots [begin, end), read under the table's guard.
std::vector<FileFacts> FilesIn(const FoundFileTable& table, std::uint32_t begin, std::uint32_t end) {
  std::vector<FileFacts> out;
  std::lock_guard<std::mutex> hold(table.guard);
  end = std::min(end, table.count);
  for (std::uint32_t i = begin; i < end; ++i) {
    const FoundFileNode* n = NodeAt(table, i);
    if (!n || !IsFileKind(KindOf(*n))) continue;
    out.push_back({i, n->typeCode, n->created, n->modified});
  }
  return out;
}

std::uint32_t YearIdOf(PackedTime t) { return (t >> 26) + 1980u; }

}  // namespace

void FoundFileCatalog::EnsureClassFolder(unsigned k, std::uint32_t id, std::uint32_t parent) {
  ClassTable& tree = classTrees_[k];
  if (IsClassLive(tree, id)) return;
  ClassNode folder{};
  folder.id = id;
  folder.parentId = parent;
  folder.slot = k;
  folder.nodeId = id;
  AddClassNode(tree, folder, true);
}

void FoundFileCatalog::PlaceClassLeaf(unsigned k, std::uint32_t parent, std::uint32_t slot,
                                      std::uint32_t id) {
  ClassNode leaf{};
  leaf.parentId = parent;
  leaf.slot = slot;
  leaf.nodeId = id;
  AddClassNode(classTrees_[k], leaf, true);
}

void FoundFileCatalog::ClassifyPartition(std::uint32_t slot, ScanControl scan) {
  const FoundFileTable& table = slots_[slot]->table;
  std::uint32_t total;
  {
    std::lock_guard<std::mutex> hold(table.guard);
    total = table.count;
  }
  ScanProgress progress{};
  progress.stage = kStageClassify;
  for (std::uint32_t begin = kLostFolderId; begin < total; begin += kClassifyProgressStep) {
    progress.u.counter.done = begin;
    progress.u.counter.total = total;
    PublishProgress(progress);
    if (scan && scan->load(std::memory_order_acquire) == 2) return;
    const std::vector<FileFacts> files = FilesIn(table, begin, begin + kClassifyProgressStep);
    {
      ClassTable& tree = classTrees_[0];
      std::lock_guard<std::mutex> hold(tree.guard);
      for (const FileFacts& f : files) {
        const FileTypeEntry* type = f.typeCode >= 36 && f.typeCode <= 171 ? FindFileType(f.typeCode)
                                                                          : nullptr;
        if (!type) continue;
        EnsureClassFolder(0, type->category, kRootId);
        EnsureClassFolder(0, f.typeCode, type->category);
        PlaceClassLeaf(0, f.typeCode, slot, f.id);
      }
    }
    for (unsigned k = 1; k <= 2; ++k) {
      ClassTable& tree = classTrees_[k];
      std::lock_guard<std::mutex> hold(tree.guard);
      for (const FileFacts& f : files) {
        const PackedTime t = k == 1 ? f.created : f.modified;
        const std::uint32_t day = DayIdOf(t);
        if (!day) continue;
        const std::uint32_t month = MonthIdOf(t);
        EnsureClassFolder(k, YearIdOf(t), kRootId);
        EnsureClassFolder(k, month, YearIdOf(t));
        EnsureClassFolder(k, day, month);
        PlaceClassLeaf(k, day, slot, f.id);
      }
    }
  }
}

// Children have higher ids than their folders in every classification tree
// (categories 6-12 < types 36-171 < leaves; years < months < days <
// leaves), so one pass from the top id down sums every folder.
void FoundFileCatalog::RecountTree(unsigned k) {
  ClassTable& tree = classTrees_[k];
  const std::uint32_t leafStart = k == 0 ? kTypeTreeLeafStart : kDateTreeLeafStart;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> folderCounts;  // (name node, count)
  std::uint32_t rootCount = 0;
  {
    std::lock_guard<std::mutex> hold(tree.guard);
    const ClassNode* nodes = tree.nodes.load(std::memory_order_acquire);
    if (!nodes) return;
    std::vector<std::uint32_t> sums(tree.count, 0);
    for (std::uint32_t id = tree.count; id-- > kRootId + 1;) {
      if (!IsClassLive(tree, id)) continue;
      std::uint32_t own = 1;
      if (id < leafStart) {
        own = sums[id] ? sums[id] : 1;
        folderCounts.emplace_back(nodes[id].nodeId, own);
      }
      const std::uint32_t parent = nodes[id].parentId;
      if (parent < id) sums[parent] += own;
    }
    rootCount = sums[kRootId];
    tree.fileCount = rootCount;
  }
  FoundFileTable& names = slots_[k]->table;
  std::lock_guard<std::mutex> hold(names.guard);
  for (const auto& [nodeId, files] : folderCounts)
    if (FoundFileNode* n = NodeAt(names, nodeId)) n->fileCount = files;
  if (FoundFileNode* root = NodeAt(names, kRootId)) root->fileCount = rootCount;
}

}  // namespace ambrel
