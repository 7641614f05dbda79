#include "fs/ntfs/ntfs_run_list.h"

#include "fs/ntfs/ntfs_geometry.h"
#include "catalog/partition_info.h"

namespace ambrel {

std::vector<RunEntry> DecodeRunList(ByteSpan bytes) {
  ByteCursor list(bytes);
  std::vector<RunEntry> runs;
  std::size_t pos = 0;
  while (pos < list.size()) {
    const std::uint8_t header = list.UncheckedU8(pos);
    if (header == 0) break;
    unsigned lengthBytes = header & 0x0F;
    if (lengthBytes > 8) lengthBytes = 8;
    const unsigned offsetBytes = header >= 0x90 ? 8u : unsigned(header >> 4);
    auto length = list.UIntN(pos + 1, lengthBytes);
    auto offset = list.SIntN(pos + 1 + lengthBytes, offsetBytes);
    if (!length || !offset) break;  // the run would pass the end of the list
    RunEntry run;
    run.lcnDelta = *offset;
    run.clusterCount = static_cast<std::uint32_t>(*length);
    run.sparse = offsetBytes == 0;
    runs.push_back(run);
    pos += 1 + lengthBytes + offsetBytes;
  }
  return runs;
}

bool ResolveExtents(std::uint64_t startLba, std::uint32_t sectorsPerCluster,
                    const std::vector<RunEntry>& runs, ExtentList& out) {
  out.clear();
  out.reserve(runs.size());
  std::uint64_t position = startLba;
  for (const RunEntry& run : runs) {
    DataExtent extent;
    extent.lcnDelta = run.lcnDelta;
    extent.clusterCount = run.clusterCount;
    extent.sectorCount = std::uint64_t{run.clusterCount} * sectorsPerCluster;
    if (run.sparse) {
      extent.sparse = true;
    } else {
      // Wrap-around arithmetic on purpose: a corrupt delta yields a position
      // that fails to read, never undefined behaviour.
      position += static_cast<std::uint64_t>(run.lcnDelta) * sectorsPerCluster;
    }
    extent.startSector = position;
    out.push_back(extent);
  }
  return !out.empty();
}

bool ResolveExtents(const PartitionInfo& partition, const std::vector<RunEntry>& runs,
                    ExtentList& out) {
  return ResolveExtents(partition.startLba, SectorsPerCluster(partition), runs, out);
}

}  // namespace ambrel
