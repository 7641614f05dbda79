// NTFS run lists: decoding the packed (length, offset) pairs of a
// non-resident attribute and turning them into absolute sector extents.
// Pure functions over spans; any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "common/byte_cursor.h"
#include "fs/data_extent.h"

namespace ambrel {

struct PartitionInfo;

struct RunEntry {
  std::int64_t lcnDelta = 0;       // cluster offset from the previous run
  std::uint32_t clusterCount = 0;  // length; length bytes above 32 bits are dropped
  bool sparse = false;             // the run had no offset bytes: no data on disk
};

// Decodes runs until a 0 header byte or the end of `bytes`; a run whose
// fields would pass the end of `bytes` is not decoded.
std::vector<RunEntry> DecodeRunList(ByteSpan bytes);

// Absolute extents: the position starts at the partition's first sector and
// moves by each run's delta x sectors-per-cluster. A sparse run keeps the
// position and is marked sparse. True when at least one extent results.
bool ResolveExtents(std::uint64_t startLba, std::uint32_t sectorsPerCluster,
                    const std::vector<RunEntry>& runs, ExtentList& out);
bool ResolveExtents(const PartitionInfo& partition, const std::vector<RunEntry>& runs,
                    ExtentList& out);

}  // namespace ambrel
