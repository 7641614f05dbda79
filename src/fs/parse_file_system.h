// The one entry point that lists a partition's files with the reader of its
// file system. Runs on the caller's worker thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "catalog/partition_info.h"
#include "fs/parse_context.h"

namespace ambrel {

// Does nothing and fails unless the setting ParseFileSys is "1"; then hands
// the partition to the reader of its kind (4 exFAT, 10/11 FAT, 12 NTFS),
// which lists its live and deleted files into the partition's table. The
// stop word is the task's 32-bit state word (0 running, 1 paused, 2 stop
// requested, 3 finished). Any other kind fails.
// `context`: what the parses of one task share (see ParseContext); null
// for a parse of its own.
bool ParseFileSystem(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                     ParseContext* context = nullptr);

}  // namespace ambrel
