#include "deepscan/organise/partition_views.h"

#include "deepscan/scan_settings.h"
#include "fs/views/recycle_bin.h"

namespace ambrel {

std::vector<std::unique_ptr<PartitionInfo>> ViewsByMode(std::unique_ptr<PartitionInfo> parsed,
                                                        RecoveryMode mode) {
  std::vector<std::unique_ptr<PartitionInfo>> views;
  if (!parsed) return views;
  if (mode == RecoveryMode::kRecycledFiles) {
    auto bin = std::make_unique<PartitionInfo>();
    if (BuildRecycleBinView(*parsed, *bin)) views.push_back(std::move(bin));
    return views;
  }
  auto deleted = std::make_unique<PartitionInfo>();
  if (!SplitByDeletion(*parsed, *deleted)) return views;
  if (mode != RecoveryMode::kDeletedFiles) views.push_back(std::move(parsed));
  views.push_back(std::move(deleted));
  return views;
}

std::uint32_t QualifyingFiles(const PartitionInfo& partition, RecoveryMode mode) {
  const FoundFileTable& table = partition.table;
  const bool wantDeleted = mode == RecoveryMode::kDeletedFiles || table.listingScope == 2;
  std::uint32_t count = 0;
  for (std::uint32_t id = 2; id < table.count; ++id) {
    const FoundFileNode* n = NodeAt(table, id);
    if (!n || !n->name || n->name[0] == '$') continue;
    if (KindOf(*n) == (wantDeleted ? kDeletedFile : kPresentFile)) ++count;
  }
  return count;
}

void DropNearlyEmptyPartitions(std::vector<std::unique_ptr<PartitionInfo>>& list, RecoveryMode mode) {
  if (list.size() < 9) return;
  std::erase_if(list, [mode](const std::unique_ptr<PartitionInfo>& p) {
    return !p || QualifyingFiles(*p, mode) <= 2;
  });
}

std::uint32_t CountFiles(const PartitionInfo& partition) {
  std::uint32_t count = 0;
  for (std::uint32_t id = kRootId + 1; id < partition.table.count; ++id) {
    const FoundFileNode* n = NodeAt(partition.table, id);
    if (n && IsFileKind(KindOf(*n))) ++count;
  }
  return count;
}

}  // namespace ambrel
