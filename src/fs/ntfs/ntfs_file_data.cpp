#include "fs/ntfs/ntfs_file_data.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "device/disk_handle.h"
#include "fs/ntfs/lznt1.h"
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

// Appends `sectors` sectors at `lba` (or sparse ones) to the unit.
void AddToUnit(CompressionUnit& unit, const DataExtent& from, std::uint64_t lba, std::uint64_t sectors) {
  if (from.sparse) return;
  ExtentList& pieces = unit.pieces;
  if (!pieces.empty() && pieces.back().startSector + pieces.back().sectorCount == lba) {
    pieces.back().sectorCount += sectors;
  } else {
    DataExtent piece;
    piece.startSector = lba;
    piece.sectorCount = sectors;
    pieces.push_back(piece);
  }
  unit.dataSectors += sectors;
}

// Reads a compressed file unit by unit into buffer (the first `limit`
// bytes). False when reading should end.
bool CopyCompressed(DiskHandle& handle, const std::vector<CompressionUnit>& units, std::uint64_t unitBytes,
                    std::uint64_t limit, std::uint8_t* buffer, const std::atomic<std::uint32_t>* stopWord) {
  std::vector<std::uint8_t> raw(unitBytes), plain(unitBytes);
  std::uint64_t done = 0;
  for (const CompressionUnit& unit : units) {
    if (done >= limit || StopRequested(stopWord)) break;
    std::uint64_t at = 0;
    for (const DataExtent& piece : unit.pieces) {
      if (at + piece.sectorCount * 512 > raw.size()) return false;
      if (!ReadSectors(handle, piece.startSector, static_cast<std::uint32_t>(piece.sectorCount), raw.data() + at))
        return false;
      at += piece.sectorCount * 512;
    }
    if (!ExpandCompressionUnit(unit, ByteSpan(raw.data(), at), plain)) return false;
    const std::uint64_t n = std::min(unitBytes, limit - done);
    std::memcpy(buffer + done, plain.data(), n);
    done += n;
  }
  return true;
}

}  // namespace

std::vector<CompressionUnit> SplitCompressionUnits(const ExtentList& extents, std::uint32_t spc,
                                                   std::uint32_t unitClusters, std::uint64_t maxUnits) {
  std::vector<CompressionUnit> units;
  if (spc == 0 || unitClusters == 0 || maxUnits == 0) return units;
  units.emplace_back();
  std::uint64_t inUnit = 0;  // clusters of the current unit so far
  for (const DataExtent& e : extents) {
    std::uint64_t left = e.clusterCount, offset = 0;
    while (left > 0) {
      if (inUnit == unitClusters) {
        if (units.size() >= maxUnits) return units;
        units.emplace_back();
        inUnit = 0;
      }
      const std::uint64_t take = std::min(left, unitClusters - inUnit);
      AddToUnit(units.back(), e, e.startSector + offset * spc, take * spc);
      inUnit += take;
      offset += take;
      left -= take;
    }
  }
  for (CompressionUnit& unit : units)
    unit.compressed = unit.dataSectors > 0 && unit.dataSectors < std::uint64_t{unitClusters} * spc;
  return units;
}

bool ExpandCompressionUnit(const CompressionUnit& unit, ByteSpan raw, std::span<std::uint8_t> out) {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  if (unit.dataSectors == 0) return true;
  if (!unit.compressed) {
    std::memcpy(out.data(), raw.data(), std::min(raw.size(), out.size()));
    return true;
  }
  return Lznt1Decompress(raw, out).has_value();
}

std::uint64_t CompressionUnitBytes(const FoundFileNode& node, std::uint32_t spc) {
  const std::uint32_t marks = node.extraCount;
  if (!(marks & kNtfsDataCompressed) || spc == 0) return 0;
  const std::uint32_t shift = NtfsUnitShift(marks);
  if (shift == 0 || shift > kMaxCompressionUnitShift) return 0;
  const std::uint64_t bytes = (std::uint64_t{1} << shift) * spc * 512;
  return bytes <= kMaxCompressionUnitBytes ? bytes : 0;
}

std::vector<std::uint8_t> ReadResidentData(const PartitionInfo& partition, const FoundFileNode& node) {
  const std::uint32_t recordBytes = MftRecordBytes(partition);
  if (!(node.flags & kFlagResident) || recordBytes == 0 || node.size > recordBytes) return {};
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return {};
  return ReadResidentData(handle, node, recordBytes);
}

std::vector<std::uint8_t> ReadResidentData(DiskHandle& handle, const FoundFileNode& node, std::uint32_t recordBytes) {
  if (!(node.flags & kFlagResident) || recordBytes == 0 || node.size > recordBytes) return {};
  std::vector<std::uint8_t> record;
  if (ReadMftRecord(handle, node.dataSector, recordBytes, record) != RecordRead::kOk) return {};
  auto data = FindAttribute(record, std::nullopt, kAttrData);
  if (!data || data->nonResident) return {};
  auto value = ResidentValue(*data);
  if (!value || value->empty()) return {};
  return std::vector<std::uint8_t>(value->data(), value->data() + value->size());
}

bool ReadNtfsFileData(const FoundFileNode& node, const PartitionInfo& partition,
                      const std::atomic<std::uint32_t>* stopWord, std::uint64_t wanted,
                      std::uint8_t* buffer) {
  const std::uint64_t size = node.size;  // a copy: the node record is packed
  const std::uint64_t limit = std::min(wanted, size);
  if (node.flags & kFlagResident) {
    const std::vector<std::uint8_t> value = ReadResidentData(partition, node);
    if (value.empty()) return false;
    std::memcpy(buffer, value.data(), std::min<std::uint64_t>(value.size(), limit));
    return true;
  }
  if (!node.extra || node.firstCluster == 0 || node.firstCluster >= kMaxNtfsRecordBytes) return false;
  ExtentList extents;
  const ByteSpan runList(static_cast<const std::uint8_t*>(node.extra), node.firstCluster);
  if (!ResolveExtents(partition, DecodeRunList(runList), extents)) return false;
  if (node.extraCount & (kNtfsDataEncrypted | kNtfsDataDamaged | kNtfsRecordTorn)) return false;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return false;
  if (node.extraCount & kNtfsDataCompressed) {
    const std::uint32_t spc = SectorsPerCluster(partition);
    const std::uint64_t unitBytes = CompressionUnitBytes(node, spc);
    if (unitBytes == 0) return false;
    const auto units = SplitCompressionUnits(extents, spc, static_cast<std::uint32_t>(unitBytes / spc / 512),
                                             (limit + unitBytes - 1) / unitBytes);
    CopyCompressed(handle, units, unitBytes, limit, buffer, stopWord);
    handle.Close();
    return true;
  }
  // No read is longer than what is wanted: the cluster bitmap of a small
  // volume would otherwise zero 4 MiB for a few kilobytes.
  std::vector<std::uint8_t> chunk(std::min<std::uint64_t>(kBulkReadSectors, (limit + 511) / 512) * 512);
  std::uint64_t done = 0;
  for (const DataExtent& extent : extents) {
    if (done >= limit) break;
    if (!CopyExtent(handle, extent, limit, done, buffer, chunk, stopWord)) break;
  }
  handle.Close();
  return true;
}

bool LoadNtfsClusterBitmap(const PartitionInfo& partition, const std::atomic<std::uint32_t>* stopWord,
                           std::vector<std::uint8_t>& out) {
  out.clear();
  std::uint64_t mftLba = 0;
  if (!MftStartLba(partition.bootSector, partition.startLba, false, mftLba)) return false;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return false;
  std::vector<std::uint8_t> record;
  const std::uint32_t recordBytes = MftRecordBytes(partition);
  const bool read = recordBytes != 0 && ReadMftRecord(handle, mftLba + kMftRecordBitmap * (recordBytes / 512),
                                                      recordBytes, record) == RecordRead::kOk;
  handle.Close();
  FoundFileNode node{};
  if (!read || !ParseMftRecord(node, partition, record, true)) return false;
  // The volume size at 0x28 counts the volume's own sectors (4096 bytes on
  // a 4 KiB-sector volume); the cluster size is in 512-byte sectors.
  const ByteCursor boot(partition.bootSector.data(), partition.bootSector.size());
  const std::uint64_t sectorUnits = boot.U16(11).value_or(512) / 512;
  const std::uint64_t totalSectors = boot.U64(0x28).value_or(0);
  const std::uint64_t clusters =
      totalSectors > (UINT64_MAX >> 4) ? 0 : totalSectors * std::max<std::uint64_t>(sectorUnits, 1) / SectorsPerCluster(partition);
  const std::uint64_t cap = std::min<std::uint64_t>(clusters / 8 + 8, 256ull << 20);
  bool ok = false;
  if (node.size > 0 && node.size <= cap) {
    std::vector<std::uint8_t> bitmap(node.size);
    ok = ReadNtfsFileData(node, partition, stopWord, node.size, bitmap.data());
    if (ok) out = std::move(bitmap);
  }
  ReleaseParsedNode(node);
  return ok;
}

}  // namespace ambrel
