// A found file's bytes in memory, read exactly as a copy of it would be
// written: the same plan of its data, the same salvaging reads and the same
// end at the first unreadable sector. What a damaged or partly overwritten
// file would become on disk is what the caller gets.
//
// Threads: any; each call opens its own handle on the source.
#pragma once

#include <cstdint>
#include <vector>

#include "recovery/file_plan.h"
#include "recovery/save_job.h"
#include "recovery/save_source.h"

namespace ambrel {

struct FileBytes {
  std::vector<std::uint8_t> data;  // at most the cap asked for
  bool opened = false;             // the source could be opened
  DataDamage damage = DataDamage::kNone;
  std::uint64_t size = 0;          // the size the entry claims
  std::uint64_t readable = 0;      // what a copy would write (before the cap)
  std::uint64_t badSectors = 0;    // unreadable sectors met in the bytes read
  bool readFailed = false;         // the read ended early at an unreadable sector
};

// Reads at most `cap` bytes from the start of the node's data.
FileBytes ReadFileBytes(const SaveNode& node, const SourceOpener& opener, std::uint64_t cap);

}  // namespace ambrel
