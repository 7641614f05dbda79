#include "fs/ntfs/ntfs_volume.h"

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_run_list.h"

namespace ambrel {

bool ReadMftRecords(DiskHandle& handle, std::uint64_t lba, std::uint32_t count, std::uint32_t recordBytes,
                    std::uint8_t* buffer) {
  const std::uint32_t sectors = recordBytes / 512;
  if (sectors == 0 || recordBytes % 512 != 0 || count > kBulkReadSectors / sectors) return false;
  const bool ok = ReadSectors(handle, lba, count * sectors, buffer);
  for (std::uint32_t i = 0; i < count; ++i)
    ApplyRecordFixups(std::span<std::uint8_t>(buffer + std::size_t{i} * recordBytes, recordBytes));
  return ok;
}

RecordRead ReadMftRecord(DiskHandle& handle, std::uint64_t lba, std::uint32_t recordBytes,
                         std::vector<std::uint8_t>& record) {
  record.assign(recordBytes, 0);
  const std::uint32_t sectors = recordBytes / 512;
  if (sectors == 0 || recordBytes % 512 != 0 || !ReadSectors(handle, lba, sectors, record.data()))
    return RecordRead::kUnreadable;
  switch (ApplyRecordFixups(record)) {
    case RecordFixup::kApplied: return RecordRead::kOk;
    case RecordFixup::kTorn: return RecordRead::kTorn;
    case RecordFixup::kNoSequence: return RecordRead::kNoSequence;
  }
  return RecordRead::kNoSequence;
}

namespace {

// The runs of the first $DATA of the record at `lba`, resolved. A torn
// record 0 is not trusted: the mirror's copy is tried instead.
bool ExtentsOfRecordData(DiskHandle& handle, const PartitionInfo& partition, std::uint64_t lba,
                         ExtentList& extents) {
  std::vector<std::uint8_t> record;
  if (ReadMftRecord(handle, lba, MftRecordBytes(partition), record) != RecordRead::kOk) return false;
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
    if (ExtentsOfRecordData(handle, partition, lba + std::uint64_t{record} * MftRecordSectors(partition.bootSector),
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
  std::vector<std::uint8_t> record;
  const std::uint64_t lba = extents[0].startSector + kMftRecordVolume * MftRecordSectors(partition.bootSector);
  if (ReadMftRecord(handle, lba, MftRecordBytes(partition), record) != RecordRead::kOk) return false;
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
  const std::uint32_t recordBytes = MftRecordBytes(bootSector);
  if (recordBytes == 0) return false;
  std::vector<std::uint8_t> buffer(std::size_t{kRecords} * recordBytes);
  // 256 records of up to 64 KiB: read in pieces of at most 4 MiB.
  const std::uint32_t perRead = std::max<std::uint32_t>(1, kBulkReadSectors * 512 / recordBytes);
  for (std::uint32_t first = 0; first < kRecords; first += perRead)
    ReadMftRecords(handle, lba + std::uint64_t{first} * (recordBytes / 512), std::min(perRead, kRecords - first),
                   recordBytes, buffer.data() + std::size_t{first} * recordBytes);
  ByteCursor all(buffer.data(), buffer.size());
  std::uint32_t matching = 0;
  for (std::uint32_t i = 0; i < kRecords; ++i)
    if (all.U32(std::size_t{i} * recordBytes + kRecordNumber) == i) ++matching;
  return matching > 64;
}

}  // namespace ambrel
