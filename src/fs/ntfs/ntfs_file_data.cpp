#include "fs/ntfs/ntfs_file_data.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "device/disk_handle.h"
#include "fs/allocation_map.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_record_node.h"
#include "fs/ntfs/ntfs_run_list.h"
#include "fs/ntfs/ntfs_volume.h"

namespace ambrel {

namespace {

bool StopRequested(const std::atomic<std::uint32_t>* stopWord) {
  return stopWord && stopWord->load(std::memory_order_relaxed) == 2;
}

// Copies one extent's bytes (or zeros for a sparse one) to buffer + done.
// Returns false when reading should end (read failure or stop).
bool CopyExtent(DiskHandle& handle, const DataExtent& extent, std::uint64_t limit,
                std::uint64_t& done, std::uint8_t* buffer, std::vector<std::uint8_t>& chunk,
                const std::atomic<std::uint32_t>* stopWord) {
  const std::uint64_t left = limit - done;
  const std::uint64_t sectors = std::min<std::uint64_t>(extent.sectorCount, (left + 511) / 512);
  if (extent.sparse) {
    const std::uint64_t n = std::min(left, sectors * 512);
    std::memset(buffer + done, 0, n);
    done += n;
    return true;
  }
  for (std::uint64_t at = 0; at < sectors && done < limit;) {
    if (StopRequested(stopWord)) return false;
    const std::uint32_t count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors - at, kBulkReadSectors));
    if (!ReadSectors(handle, extent.startSector + at, count, chunk.data())) return false;
    const std::uint64_t n = std::min<std::uint64_t>(std::uint64_t{count} * 512, limit - done);
    std::memcpy(buffer + done, chunk.data(), n);
    done += n;
    at += count;
  }
  return true;
}

}  // namespace

std::uint32_t ReadResidentData(const PartitionInfo& partition, const FoundFileNode& node,
                               std::uint8_t* buffer1024) {
  if (!(node.flags & kFlagResident) || node.size > kMftRecordBytes) return 0;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return 0;
  std::array<std::uint8_t, kMftRecordBytes> record{};
  const bool read = ReadMftRecords(handle, node.dataSector, 1, record.data());
  handle.Close();
  if (!read) return 0;
  auto data = FindAttribute(record, std::nullopt, kAttrData);
  if (!data || data->nonResident) return 0;
  auto value = ResidentValue(*data);
  if (!value || value->empty()) return 0;
  std::memset(buffer1024, 0, kMftRecordBytes);
  std::memcpy(buffer1024, value->data(), value->size());
  return static_cast<std::uint32_t>(value->size());
}

bool ReadNtfsFileData(const FoundFileNode& node, const PartitionInfo& partition,
                      const std::atomic<std::uint32_t>* stopWord, std::uint64_t wanted,
                      std::uint8_t* buffer) {
  const std::uint64_t size = node.size;  // a copy: the node record is packed
  const std::uint64_t limit = std::min(wanted, size);
  if (node.flags & kFlagResident) {
    std::array<std::uint8_t, kMftRecordBytes> value{};
    const std::uint32_t length = ReadResidentData(partition, node, value.data());
    if (length == 0) return false;
    std::memcpy(buffer, value.data(), std::min<std::uint64_t>(length, limit));
    return true;
  }
  if (!node.extra || node.firstCluster == 0 || node.firstCluster >= kMftRecordBytes) return false;
  ExtentList extents;
  const ByteSpan runList(static_cast<const std::uint8_t*>(node.extra), node.firstCluster);
  if (!ResolveExtents(partition, DecodeRunList(runList), extents)) return false;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return false;
  std::vector<std::uint8_t> chunk(std::size_t{kBulkReadSectors} * 512);
  std::uint64_t done = 0;
  for (const DataExtent& extent : extents) {
    if (done >= limit) break;
    if (!CopyExtent(handle, extent, limit, done, buffer, chunk, stopWord)) break;
  }
  handle.Close();
  return true;
}

bool LoadNtfsClusterBitmap(const PartitionInfo& partition,
                           const std::atomic<std::uint32_t>* stopWord) {
  ClearAllocationMap();
  std::uint64_t mftLba = 0;
  if (!MftStartLba(partition.bootSector, partition.startLba, false, mftLba)) return false;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return false;
  std::array<std::uint8_t, kMftRecordBytes> record{};
  const bool read =
      ReadMftRecords(handle, mftLba + kMftRecordBitmap * kMftRecordSectors, 1, record.data());
  handle.Close();
  FoundFileNode node{};
  if (!read || !ParseMftRecord(node, partition, record, true)) return false;
  const std::uint64_t totalSectors =
      ByteCursor(partition.bootSector.data(), partition.bootSector.size()).U64(0x28).value_or(0);
  const std::uint64_t clusters = totalSectors / SectorsPerCluster(partition);
  const std::uint64_t cap = std::min<std::uint64_t>(clusters / 8 + 8, 256ull << 20);
  bool ok = false;
  if (node.size > 0 && node.size <= cap) {
    std::vector<std::uint8_t> bitmap(node.size);
    ok = ReadNtfsFileData(node, partition, stopWord, node.size, bitmap.data());
    if (ok) SetAllocationMap(std::move(bitmap));
  }
  ReleaseParsedNode(node);
  return ok;
}

}  // namespace ambrel
