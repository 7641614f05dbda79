// The allocation map of the last parsed partition: the NTFS $Bitmap or the
// first FAT copy. The deep scan consults it to read only the used or the free
// clusters.
//
// Threads: filled by the parsing thread before a deep scan starts and read by
// the scan's threads afterwards; the accessors lock around each copy.
#pragma once

#include <cstdint>
#include <vector>

namespace ambrel {

void SetAllocationMap(std::vector<std::uint8_t> bytes);
void ClearAllocationMap();
std::vector<std::uint8_t> AllocationMapCopy();
std::uint64_t AllocationMapBytes();
// Bit `cluster` of the map (NTFS: set = in use); false beyond the map.
bool AllocationMapBit(std::uint64_t cluster);

}  // namespace ambrel
