#include "fs/ntfs/ntfs_volume.h"

#include <array>
#include <vector>

#include "common/text.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_run_list.h"

namespace ambrel {

bool ReadMftRecords(DiskHandle& handle, std::uint64_t lba, std::uint32_t count,
                    std::uint8_t* buffer) {
  if (count > kBulkReadSectors / kMftRecordSectors) return false;
  const bool ok = ReadSectors(handle, lba, count * kMftRecordSectors, buffer);
  for (std::uint32_t i = 0; i < count; ++i)
    ApplyRecordFixups(std::span<std::uint8_t>(buffer + std::size_t{i} * kMftRecordBytes,
                                              kMftRecordBytes));
  return ok;
}

namespace {

using RecordBuffer = std::array<std::uint8_t, kMftRecordBytes>;

// The runs of the first $DATA of the record at `lba`, resolved.
bool ExtentsOfRecordData(DiskHandle& handle, const PartitionInfo& partition, std::uint64_t lba,
                         ExtentList& extents) {
  RecordBuffer record{};
  if (!ReadMftRecords(handle, lba, 1, record.data())) return false;
  auto data = FindAttribute(record, std::nullopt, kAttrData);
  if (!data || !data->nonResident) return false;
  auto runs = RunListBytes(*data);
  if (!runs) return false;
  return ResolveExtents(partition, DecodeRunList(runs->span()), extents);
}

bool LoadFromRecord(DiskHandle& handle, const PartitionInfo& partition, std::uint32_t record,
                    ExtentList& extents) {
  for (bool mirror : {false, true}) {
    std::uint64_t lba = 0;
    if (!MftStartLba(partition.bootSector, partition.startLba, mirror, lba)) return false;
    if (ExtentsOfRecordData(handle, partition, lba + std::uint64_t{record} * kMftRecordSectors,
                            extents))
      return true;
  }
  extents.clear();
  return false;
}

}  // namespace

bool LoadMftExtents(DiskHandle& handle, const PartitionInfo& partition, ExtentList& extents) {
  return LoadFromRecord(handle, partition, 0, extents);
}

bool LoadMftMirrorExtents(DiskHandle& handle, const PartitionInfo& partition,
                          ExtentList& extents) {
  return LoadFromRecord(handle, partition, 1, extents);
}

bool ReadNtfsVolumeLabel(DiskHandle& handle, PartitionInfo& partition) {
  ExtentList extents;
  if (!LoadMftExtents(handle, partition, extents) || extents[0].sparse) return false;
  RecordBuffer record{};
  const std::uint64_t lba = extents[0].startSector + kMftRecordVolume * kMftRecordSectors;
  if (!ReadMftRecords(handle, lba, 1, record.data())) return false;
  auto attribute = FindAttribute(record, std::nullopt, kAttrVolumeName);
  if (!attribute) return false;
  auto value = ResidentValue(*attribute);
  if (!value) return false;
  std::string label = Utf16LeBytesToUtf8(value->data(), value->size() / 2);
  if (auto nul = label.find('\0'); nul != std::string::npos) label.resize(nul);
  label = Utf8Prefix(label, 259);
  if (label.empty()) return false;
  partition.volumeLabel = std::move(label);
  return true;
}

bool CheckMftConsistency(const BootSector& bootSector, DiskHandle& handle, std::uint64_t startLba) {
  constexpr std::uint32_t kRecords = 256;
  std::uint64_t lba = 0;
  if (!MftStartLba(bootSector, startLba, false, lba)) return false;
  std::vector<std::uint8_t> buffer(std::size_t{kRecords} * kMftRecordBytes);
  ReadMftRecords(handle, lba, kRecords, buffer.data());
  ByteCursor all(buffer.data(), buffer.size());
  std::uint32_t matching = 0;
  for (std::uint32_t i = 0; i < kRecords; ++i)
    if (all.U32(std::size_t{i} * kMftRecordBytes + kRecordNumber) == i) ++matching;
  return matching > 64;
}

}  // namespace ambrel
