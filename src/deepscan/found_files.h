// The pseudo-partition of the files found by signature ("找到的文件"):
// nested copies absorbed, duplicates of file-system files dropped, gap
// sizes for files whose end is unknown, one type folder per type.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/free_space.h"
#include "deepscan/scan_hit.h"
#include "deepscan/scan_settings.h"

namespace ambrel {

// The size of the signature hit hits[index] measured to the next hit of a
// signature or sector kind (or the end of `scanned`), capped at 3686400
// sectors; in modes 2 and 5 (`free` non-null) cut to the free run that
// starts at the hit. `hits` is in LBA order.
std::uint64_t GapSize(const std::vector<ScanHit*>& hits, std::size_t index,
                      const PartitionInfo& scanned, const FreeSpaceMap* free);
// Gives every signature hit whose size is still 0 its gap size.
void ApplyGapSizes(std::vector<ScanHit*>& hits, const PartitionInfo& scanned,
                   const FreeSpaceMap* free);
// Builds the pseudo-partition from the signature hits of `hits`, after the
// partitions of `found` (whose files a carved duplicate repeats). Null when
// no carved file remains.
std::unique_ptr<PartitionInfo> BuildFoundFilesPartition(
    std::vector<ScanHit*>& hits, const std::vector<std::unique_ptr<PartitionInfo>>& found,
    const DeepScanSettings& settings, const PartitionInfo& scanned);

}  // namespace ambrel
