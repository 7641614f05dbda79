// Listing a whole NTFS partition: every MFT record, live or deleted, becomes
// a node of the partition's table, and the tree is rebuilt from the parent
// references alone (no directory index is read).
//
// Threads: runs on the worker thread that parses the partition. It touches
// the progress mailbox and the known-extent lists (both locked) and polls the
// stop word (2 = stop) before each extent and each 4 MiB chunk.
#pragma once

#include <atomic>

#include "fs/parse_context.h"
#include "device/disk_handle.h"
#include "catalog/partition_info.h"
#include "fs/cluster_map.h"
#include "fs/data_extent.h"

namespace ambrel {

// Opens the partition read-only, loads the MFT extents (with the mirror
// fallback), walks the MFT and, unless stopped, registers the MFT and mirror
// extents and links the table. Does nothing unless the setting ParseFileSys
// is "1".
// `context`, when given, receives the MFT, mirror and index extents;
// `attributeRuns` the clusters of the live files' and folders' other
// non-resident attributes, for the owner map.
bool ReadNtfsPartition(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                       ParseContext* context = nullptr, std::vector<NtfsAttributeRun>* attributeRuns = nullptr);

// Parses every record of the MFT extents into the partition's table (nodes
// unlinked), publishing stage-1 progress. Walks at most 0x200000 records.
// A file an attribute list spread over several records is listed once,
// from all of them. False when stopped.
bool WalkMft(DiskHandle& handle, PartitionInfo& partition,
             const std::atomic<std::uint32_t>* stopWord, const ExtentList& mftExtents,
             KnownExtents* known = nullptr, std::vector<NtfsAttributeRun>* attributeRuns = nullptr);

}  // namespace ambrel
