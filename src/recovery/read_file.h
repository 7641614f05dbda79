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

// Reads the last `length` bytes of what a copy would write (its readable
// bytes), without reading what comes before them: the end of a large video,
// where its index may lie. The sectors skipped are not read, so an
// unreadable sector among them does not end the data as it would end a
// copy. A compressed or resident file gives no bytes (`opened` still tells
// whether the source opened).
FileBytes ReadFileTail(const SaveNode& node, const SourceOpener& opener, std::uint64_t length);

}  // namespace ambrel
