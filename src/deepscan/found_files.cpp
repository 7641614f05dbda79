#include "deepscan/found_files.h"

namespace ambrel {

std::uint64_t GapSize(const std::vector<ScanHit*>&, std::size_t, const PartitionInfo&,
                      const FreeSpaceMap*) {
  return 0;
}

void ApplyGapSizes(std::vector<ScanHit*>&, const PartitionInfo&, const FreeSpaceMap*) {}

std::unique_ptr<PartitionInfo> BuildFoundFilesPartition(
    std::vector<ScanHit*>&, const std::vector<std::unique_ptr<PartitionInfo>>&,
    const DeepScanSettings&, const PartitionInfo&) {
  return nullptr;
}

}  // namespace ambrel
