// Fuzzes the lost-partition rebuild over a small disk whose sectors are the
// fuzz input: boot-sector candidates at every sector (with their backups),
// EBR entries, FILE-record runs placed as MFT or mirror, loose-record
// grouping and FAT directory trees from "." clusters.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "deepscan/organise/boot_sector_rebuild.h"
#include "deepscan/organise/fat_directory_trees.h"
#include "deepscan/organise/mft_run_rebuild.h"
#include "deepscan/organise/orphan_records.h"
#include "device/memory_device.h"

using namespace ambrel;

namespace {

constexpr std::size_t kMaxSectors = 256;

// A FILE-record hit whose summary comes from the record bytes themselves:
// its number at 0x2C, a name from bytes 0x40.., its run list from 0x60..
ScanHit RecordHitOf(const std::uint8_t* s, std::uint64_t lba) {
  ScanHit h;
  h.kind = kHitFileRecord;
  h.lba = lba;
  FileRecordSummary summary;
  std::memcpy(&summary.recordNumber, s + 0x2C, 4);
  summary.name.resize(1 + s[0x3F] % 8);
  std::memcpy(summary.name.data(), s + 0x40, summary.name.size() * 2);
  summary.runs.assign(s + 0x60, s + 0x60 + 1 + s[0x5F] % 32);
  std::memcpy(&summary.dataSize, s + 0x30, 8);
  summary.flags = s[0x16] & 3;
  h.record = RecordSummaryRef::Pack(summary);
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t sectors = std::min(size / 512, kMaxSectors);
  if (sectors == 0) return 0;
  std::vector<std::uint8_t> image(data, data + sectors * 512);
  DiskHandle disk = HandleForDevice(std::make_shared<MemoryDevice>(image), "fuzz");

  std::vector<ScanHit> records, directories;
  for (std::size_t i = 0; i < sectors; ++i) {
    const ByteSpan sector(image.data() + i * 512, 512);
    PartitionInfo built;
    BuildFromBootSector(disk, sector, i, built);
    for (unsigned e = 0; e < 4; ++e)
      if (auto entry = UsableTableEntry(sector, e)) BuildFromTableEntry(disk, i, *entry, built);
    LooksLikeFat16Sector(sector);
    LooksLikeFat32Sector(sector);
    if (image[i * 512] & 1) records.push_back(RecordHitOf(image.data() + i * 512, i * 2));
    if (image[i * 512] & 2) {
      ScanHit d;
      d.kind = kHitFatDirectory;
      d.lba = i;
      std::memcpy(&d.aux1, image.data() + i * 512 + 26, 2);
      directories.push_back(std::move(d));
    }
  }
  std::vector<const ScanHit*> recordPtrs, dirPtrs;
  for (const ScanHit& h : records) recordPtrs.push_back(&h);
  for (const ScanHit& h : directories) dirPtrs.push_back(&h);
  for (const MftRunGroup& run : GroupMftRuns(recordPtrs)) BuildFromMftRun(run, recordPtrs);
  GroupOrphanRecords(recordPtrs);
  std::vector<IndexedDirectory> indexed;
  for (const ScanHit& h : records) {
    const ByteSpan runs = h.record->runs;
    indexed.push_back({std::vector<std::uint8_t>(runs.begin(), runs.end()), {h.lba, h.lba + 8}});
  }
  PlacementFromIndexRecords(indexed, sectors);
  BuildFatDirectoryTrees(disk, dirPtrs, {}, "fuzz");
  return 0;
}
