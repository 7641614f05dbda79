// What a GPT names that the partition table reader could not use: when the
// entry array runs past the end of the device (a truncated image, a damaged
// header) the whole table is refused, and partitions that reach past the
// end are dropped. The front end warns with the partitions lost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_cursor.h"
#include "device/disk_handle.h"
#include "device/partition_table.h"

namespace ambrel {

struct GptLoss {
  std::uint64_t entriesLba = 0;
  std::uint64_t entrySectors = 0;     // sectors the header's entry array takes
  std::uint64_t readableSectors = 0;  // of those, the ones before the device's end
  std::uint32_t entryCount = 0;
  std::uint32_t firstUnreadableEntry = 0;  // 1-based; 0 when the array is whole
  std::vector<TablePartition> lost;        // readable entries missing from `found`
  std::uint64_t diskSectors = 0;

  bool CutShort() const { return firstUnreadableEntry != 0; }
  bool Empty() const { return !CutShort() && lost.empty(); }
};

// Pure: the decoded header, the entry bytes that could be read (a prefix of
// the array), the device's size and the partition numbers the table reader
// returned.
GptLoss DecodeGptLoss(const GptHeader& header, ByteSpan readableEntries, std::uint64_t diskSectors,
                      const std::vector<int>& found);

// Reads the primary GPT header (else the backup) and its entries. Empty when
// the device holds no GPT header or nothing was lost.
GptLoss FindGptLoss(DiskHandle& disk, const std::vector<int>& found);

}  // namespace ambrel
