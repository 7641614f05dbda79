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

// The trees a volume left in the free space of the exFAT volume formatted
// over it with the same layout (a card formatted again in the camera):
// the directory hits inside a known volume's cluster heap that are not its
// own directories (those hits are retired before) are read with that
// volume's geometry. Directories no other of them names are the tops of
// the old trees: their entries go below the root, with every folder name
// that survives. Appends one volume (kind 17, found by directory entries)
// per known volume that had old trees; true when one was appended.
bool RebuildFormerExfatTrees(const std::atomic<std::uint32_t>* stopWord, DiskHandle& disk,
                             const std::vector<ScanHit*>& hits,
                             std::vector<std::unique_ptr<PartitionInfo>>& found,
                             const std::vector<PartitionInfo>& otherVolumes, const std::string& displayName);

}  // namespace ambrel
