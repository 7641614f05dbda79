// Fuzz target: one MFT record (fixups, attribute walk, decoding into a
// found-file node) and the run lists it carries, resolved into extents.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "catalog/found_file_node.h"
#include "catalog/partition_info.h"
#include "fs/ntfs/ntfs_known_extents.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_record_node.h"
#include "fs/ntfs/ntfs_run_list.h"

using namespace ambrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte picks sectors per cluster and whether system names are kept.
  const std::uint32_t spc = 1u << (data[0] & 7);
  const bool keepSystem = (data[0] & 0x80) != 0;
  ++data;
  --size;

  // The record, in a buffer of exactly its own size so that any read past
  // the 1024 bytes is caught.
  std::vector<std::uint8_t> record(data, data + std::min<std::size_t>(size, 1024));
  if (record.size() == 1024) ApplyRecordFixups(record);
  if (auto summary = DecodeMftRecord(record, keepSystem)) {
    ExtentList extents;
    ResolveExtents(1000, spc, DecodeRunList(summary->runList), extents);
    for (const auto& runs : summary->indexRuns) ResolveExtents(1000, spc, runs, extents);
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
  ResolveExtents(0, spc, DecodeRunList(list), extents);
  return 0;
}
