// Fuzz target: one MFT record of 512 to 4096 bytes (fixups with the
// update-sequence check, attribute walk, decoding into a found-file node),
// the record size its header states and the boot-sector size field, the
// run lists it carries, resolved into extents, the pieces of a spread file
// joined, and a run list re-encoded.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "catalog/found_file_node.h"
#include "catalog/partition_info.h"
#include "fs/boot_probe.h"
#include "fs/ntfs/ntfs_known_extents.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_record_node.h"
#include "fs/ntfs/ntfs_run_list.h"

using namespace ambrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte picks sectors per cluster, the record size (512 << 0..3)
  // and whether system names are kept.
  const std::uint32_t spc = 1u << (data[0] & 7);
  const std::size_t recordBytes = std::size_t{512} << ((data[0] >> 3) & 3);
  const bool keepSystem = (data[0] & 0x80) != 0;
  ++data;
  --size;

  // The boot-sector size field: every byte value against this cluster size
  // and the sector sizes a volume may have.
  const NtfsRecordSize fromBoot = DecodeNtfsRecordSize(data[0], std::uint64_t{spc} * 512, 512u << (data[0] & 3));
  if (fromBoot.Usable() && (fromBoot.bytes < 512 || fromBoot.bytes > 65536 || (fromBoot.bytes & (fromBoot.bytes - 1))))
    __builtin_trap();

  // The record, in a buffer of exactly its own size so that any read past
  // it is caught; a shorter input is taken whole.
  std::vector<std::uint8_t> record(data, data + std::min(size, recordBytes));
  const std::uint32_t stated = StatedRecordBytes(record);
  if (stated != 0 && (stated < 512 || (stated & (stated - 1)) != 0)) __builtin_trap();
  ApplyRecordFixups(record);
  if (auto summary = DecodeMftRecord(record, keepSystem)) {
    ExtentList extents;
    ResolveExtents(1000, spc, DecodeRunList(summary->runList), extents);
    for (const auto& runs : summary->indexRuns) ResolveExtents(1000, spc, runs, extents);
    // A base record's pieces joined as the walk joins a file spread over
    // extension records: the joined list must decode, within a record.
    JoinDataPieces(*summary);
    if (summary->runList.size() > 65536) __builtin_trap();
    ResolveExtents(1000, spc, DecodeRunList(summary->runList), extents);
  }
  // The same record into a found-file node, as the MFT walk does it.
  static PartitionInfo partition;
  partition.startLba = 1000;
  partition.bootSector[13] = static_cast<std::uint8_t>(spc);
  FoundFileNode node{};
  if (ParseMftRecord(node, partition, record, keepSystem)) ReleaseParsedNode(node);
  FindAttribute(record, std::nullopt, 0x80);
  FindAttribute(record, 0x100, 0x30);

  // The whole input as a run list as well.
  std::vector<std::uint8_t> list(data, data + size);
  ExtentList extents;
  const std::vector<RunEntry> runs = DecodeRunList(list);
  ResolveExtents(0, spc, runs, extents);
  // Re-encoding what was decoded gives the same runs back (the joined list
  // of a spread file is written this way).
  const std::vector<std::uint8_t> encoded = EncodeRunList(runs);
  const std::vector<RunEntry> again = DecodeRunList(encoded);
  if (again.size() != runs.size()) __builtin_trap();
  for (std::size_t i = 0; i < runs.size(); ++i)
    if (again[i].lcnDelta != runs[i].lcnDelta || again[i].clusterCount != runs[i].clusterCount ||
        again[i].sparse != runs[i].sparse)
      __builtin_trap();
  return 0;
}
