// Where a found file's data lies, by what produced the node.
#include <algorithm>
#include <cstring>

#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_run_list.h"
#include "recovery/save_item.h"

namespace ambrel {

namespace {

// A deep-scan fragment list: 16-byte entries {start LBA u64, sectors u64}
// in `extra`, their count in `firstCluster`.
constexpr std::uint32_t kMaxFragments = 1u << 22;

bool FragmentExtents(const FoundFileNode& node, ExtentList& extents) {
  const std::uint32_t count = node.firstCluster;
  if (node.extra == nullptr || count == 0 || count > kMaxFragments) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(node.extra);
  extents.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    DataExtent e;
    std::memcpy(&e.startSector, bytes + 16ull * i, 8);
    std::memcpy(&e.sectorCount, bytes + 16ull * i + 8, 8);
    if (e.sectorCount != 0) extents.push_back(e);
  }
  return true;
}

bool NtfsExtents(const FoundFileNode& node, const PartitionInfo& partition, ExtentList& extents) {
  if (node.extra == nullptr || node.firstCluster == 0) return false;
  const ByteSpan runList(static_cast<const std::uint8_t*>(node.extra), node.firstCluster);
  return ResolveExtents(partition, DecodeRunList(runList), extents);
}

}  // namespace

bool BuildExtents(const FoundFileNode& node, const PartitionInfo& partition, ExtentList& extents, ChainEnd* end) {
  extents.clear();
  ChainEnd walked = ChainEnd::kCovered;
  if (node.flags & kFlagResident) {
    const std::uint32_t recordSectors = partition.fsKind == kFsNtfs ? MftRecordSectors(partition.bootSector) : 0;
    extents.push_back(DataExtent{0, 0, node.dataSector, recordSectors != 0 ? recordSectors : 2u, false});
  } else if (node.flags & kFlagVideoRebuilt) {
    if (!FragmentExtents(node, extents)) return false;
  } else {
    switch (partition.fsKind) {
      case kFsExfat:
        walked = ExfatChainExtents(extents, node, partition);
        break;
      case kFsFat16:
      case kFsFat32:
        walked = FatChainExtents(partition, node, extents);
        break;
      case kFsNtfs:
        NtfsExtents(node, partition, extents);
        break;
      case kFsSignature:
      case kFsFatDirScan:
      case kFsExfatDirScan:
        // Taken as contiguous from the node's first sector.
        extents.push_back(DataExtent{0, 0, node.dataSector, (node.size + 511) / 512, false});
        break;
      default:
        return false;
    }
  }
  if (end) *end = walked;
  return !extents.empty();
}

}  // namespace ambrel
