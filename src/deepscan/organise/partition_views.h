// What a scan lists of a volume it could parse, by recovery mode, and the
// rule that thins a long result list to the partitions that hold files.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/scan_settings.h"

namespace ambrel {

// The views of a parsed partition: mode 2 its deleted files only (scope 2);
// mode 5 its recycle bin only, when it holds files; other modes its present
// files (scope 1) and then its deleted files (scope 2). Empty when the mode
// leaves nothing.
std::vector<std::unique_ptr<PartitionInfo>> ViewsByMode(std::unique_ptr<PartitionInfo> parsed,
                                                        RecoveryMode mode);

// The files of a partition that speak for it: live nodes from id 2 up whose
// name does not start with '$' and which are deleted files in a deleted-files
// view (scope 2) or in mode 2, present files otherwise.
std::uint32_t QualifyingFiles(const PartitionInfo& partition, RecoveryMode mode);

// With 9 or more partitions, keeps only those with more than 2 qualifying
// files; the others are dropped. The list keeps its order.
void DropNearlyEmptyPartitions(std::vector<std::unique_ptr<PartitionInfo>>& list, RecoveryMode mode);

// Files (kinds 0 and 1) of a table, whatever their place in the tree.
std::uint32_t CountFiles(const PartitionInfo& partition);

}  // namespace ambrel
