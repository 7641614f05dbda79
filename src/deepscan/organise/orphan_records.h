// NTFS trees from FILE records whose MFT could not be placed: the records
// are grouped by the spacing of their numbers, each group is positioned
// (from the INDX records of its directories, from an NTFS volume whose MFT
// lies where the group's record 0 would be, or by the default layout) and
// its tree is rebuilt record by record.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "common/byte_cursor.h"
#include "deepscan/scan_hit.h"
#include "device/disk_handle.h"

namespace ambrel {

// Indexes (into the FILE-record hit list) of one group.
using RecordGroup = std::vector<std::uint32_t>;

// A hit fits a seed when its record number is larger and it lies two
// sectors per record further; 20 hits that do not fit end a seed's look;
// seeds follow the last hit that joined until the group holds more than
// 39 hits.
std::vector<RecordGroup> GroupOrphanRecords(const std::vector<const ScanHit*>& records);

// A group is worth a tree with at least 50 records, or 20 per partition
// already found when more than 2 were.
bool GroupLargeEnough(std::size_t groupSize, std::size_t partitionsFound);

struct RecordPlacement {
  std::uint64_t start = 0;
  std::uint32_t spc = 0;
};

// The default layout: 8 sectors per cluster and the MFT at sector 0x600000
// of the partition. Empty when the group's record 0 would lie below that.
// `recordSectors`: the 512-byte sectors of one FILE record.
std::optional<RecordPlacement> DefaultLayoutPlacement(std::uint64_t firstLba, std::uint32_t firstRecord,
                                                      std::uint32_t recordSectors = 2);

// One directory of a group: its $INDEX_ALLOCATION run list and the LBAs of
// the INDX records that name it.
struct IndexedDirectory {
  std::vector<std::uint8_t> indexRuns;
  std::vector<std::uint64_t> indxLbas;
};
// The (start, cluster size) under which most directories have an INDX
// record at the start of their first index extent and their other INDX
// records inside their index extents; `recordZeroLba` bounds the start (the
// MFT lies inside the partition). Empty when no directory matches.
std::optional<RecordPlacement> PlacementFromIndexRecords(
    const std::vector<IndexedDirectory>& directories, std::uint64_t recordZeroLba);

// The cluster size a record's own non-resident attributes state, in
// sectors: an attribute whose runs start at VCN 0 and end at VCN n has
// n + 1 clusters allocated, so its allocated size divided by n + 1 is the
// cluster size of the volume the record was written on (a power of two of
// 512 B to 2 MiB, or nothing). The first attribute that states one answers.
std::optional<std::uint32_t> RecordClusterSectors(ByteSpan record);

// The cluster size most of the records state (each a fixed-up record), when
// at least 3 state one and no other size is stated as often.
std::optional<std::uint32_t> VotedClusterSectors(const std::vector<std::vector<std::uint8_t>>& records);

// The $INDEX_ALLOCATION run list of a fixed-up record (the span is the whole record).
std::vector<std::uint8_t> IndexAllocationRuns(ByteSpan record);

// Builds the trees of every large-enough group and appends them to
// `found` (origin: loose records). `indx` holds the INDX hits (kind 225);
// `otherVolumes` the volumes found but not in `found` (those added while
// the scan ran), consulted with `found` for a volume whose MFT lies where a
// group's record 0 would. `displayName` names the scanned disk.
void BuildOrphanRecordTrees(DiskHandle& disk, const std::vector<const ScanHit*>& records,
                            const std::vector<const ScanHit*>& indx,
                            std::vector<std::unique_ptr<PartitionInfo>>& found,
                            const std::vector<const PartitionInfo*>& otherVolumes,
                            const std::string& displayName);

}  // namespace ambrel
