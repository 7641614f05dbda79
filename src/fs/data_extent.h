// A run of absolute sectors holding part of a file's data. Readers and the
// deep scan describe file data as arrays of it; the copy-out reads through
// them.
#pragma once

#include <cstdint>
#include <vector>

namespace ambrel {

struct DataExtent {
  std::int64_t lcnDelta = 0;        // NTFS: the run's signed cluster offset
  std::uint64_t clusterCount = 0;   // NTFS: run length in clusters
  std::uint64_t startSector = 0;    // absolute LBA on the device
  std::uint64_t sectorCount = 0;
  bool sparse = false;              // no data on disk: reads as zeros
};

using ExtentList = std::vector<DataExtent>;

}  // namespace ambrel
