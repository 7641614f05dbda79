// exFAT volumes whose boot regions are gone, rebuilt from the directory
// sectors the scan found (the cluster size from the spacing of their runs).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/scan_hit.h"
#include "device/disk_handle.h"

namespace ambrel {

// Rebuilds from the exFAT directory hits (234, 235) and appends the volume
// (kind 17) to `found`, unless an exFAT volume of `found` already has its
// cluster heap there (nor one of `otherVolumes`, those added live). True
// when one was appended.
bool RebuildExfatVolumes(const std::atomic<std::uint32_t>* stopWord, DiskHandle& disk,
                         const std::vector<ScanHit*>& hits,
                         std::vector<std::unique_ptr<PartitionInfo>>& found,
                         const std::vector<PartitionInfo>& otherVolumes,
                         const std::string& displayName);

}  // namespace ambrel
