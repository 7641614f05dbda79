// What the copy-out would make of one listed file, for the listings: a
// deleted file's overwrite state and share, a live file's damage (chain
// ending early, loop, cross-link), an exFAT file never written whole.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/found_file_node.h"
#include "catalog/partition_info.h"
#include "recovery/file_plan.h"

namespace ambrel {

struct ListedFileState {
  OverwriteState overwrite = OverwriteState::kUnknown;  // deleted files
  unsigned overwrittenPercent = 0;
  DataDamage damage = DataDamage::kNone;
  std::string crossLinkedWith;
  std::string overwrittenBy;  // the live file that took a deleted file's first cluster in use again
  std::uint64_t validLength = 0;  // kNotValidData: the bytes ever written
};

// Plans the node's data against its volume (no read): the same judgement
// the copy-out makes. Folders get the empty state.
ListedFileState FileStateOf(const PartitionInfo& volume, const FoundFileNode& node);

// "intact", "partly overwritten", "overwritten"; "" for kUnknown.
const char* OverwriteStateName(OverwriteState state);
// The one-word column of the text listing: "intact", "overwritten(100%)",
// "partly-overwritten(40%)" for deleted files; "damaged" or "partial" for
// a file not whole; "-" otherwise.
std::string StateColumnText(const ListedFileState& state);
// Why the file is not whole, in short English words ("" when it is):
// "cross-linked with DOCS/A.TXT", "cluster chain loops", ...
std::string DamageReasonText(const ListedFileState& state);

}  // namespace ambrel
