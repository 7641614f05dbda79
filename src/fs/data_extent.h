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

// How the walk of a file's cluster chain ended.
enum class ChainEnd : std::uint8_t {
  kCovered,    // the chain (or the contiguous run assumed) covers the size
  kEndsEarly,  // an end-of-chain, free, bad or off-volume entry came first
  kLoop,       // the chain came back to a cluster it already held
};

}  // namespace ambrel
