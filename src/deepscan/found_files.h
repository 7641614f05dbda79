// The pseudo-partition of the files found by signature ("找到的文件"):
// nested copies absorbed, duplicates of file-system files dropped, gap
// sizes for files whose end is unknown, one type folder per type.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/free_space.h"
#include "deepscan/scan_hit.h"
#include "deepscan/scan_settings.h"

namespace ambrel {

// A node's flag bit for a carved file whose size was read from the file's
// own structure (its size rule answered 4); clear when the size is the gap
// to the next hit.
inline constexpr std::uint16_t kFlagStructuralSize = 1u << 9;
inline constexpr std::uint64_t kMaxGapSectors = 3686400;
// Kinds that end a gap: signature hits and sector structures (video
// records 172..220 do not).
bool EndsGap(std::uint32_t kind);

// Whether the hit's size came from its size rule (status 4 and a size).
bool HasRuleSize(const ScanHit& hit);

// "%x_%x.ext" with the LBA's high and low halves when the high half is not
// zero, else "%x.ext".
std::string CarvedFileName(std::uint64_t lba, std::uint32_t type);
// A present file of the found-files table for a signature hit of `size`
// bytes; parentId carries the type code. Flagged structural only when
// `size` is the size its rule gave.
FoundFileNode CarvedFileNode(const ScanHit& hit, std::uint64_t size);

// The size of the signature hit hits[index] measured to the next hit of a
// signature or sector kind (or the end of `scanned`), capped at 3686400
// sectors; in modes 2 and 5 (`free` non-null) cut to the free run that
// starts at the hit. `hits` is in LBA order.
std::uint64_t GapSize(const std::vector<ScanHit*>& hits, std::size_t index,
                      const PartitionInfo& scanned, const FreeSpaceMap* free);
// Gives every signature hit whose size is still 0 its gap size.
void ApplyGapSizes(std::vector<ScanHit*>& hits, const PartitionInfo& scanned,
                   const FreeSpaceMap* free);
// Sector runs [first, end) of file data.
using SectorRuns = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
// The runs of every file (live or deleted) that `partition` lists.
void AppendFileRuns(const PartitionInfo& partition, SectorRuns& runs);
// (first data sector, size) of files.
using FileStarts = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
// Those of every file (live or deleted, not empty) that `partition` lists.
void AppendFileStarts(const PartitionInfo& partition, FileStarts& starts);
// Whether nearly all (9 in 10) of the non-empty files of `partition` are
// in `sortedStarts`: the partition lists those files again.
bool RepeatsFiles(const PartitionInfo& partition, const FileStarts& sortedStarts);

// Carved hits that repeat a listed file: a hit whose first sector lies in
// one of the `runs`, and whose own extent (when its size is the rule's)
// ends inside that run too, is absorbed. Returns how many were.
std::size_t DropCarvedInsideFileRuns(std::vector<ScanHit*>& hits, SectorRuns runs);

// Builds the pseudo-partition from the signature hits of `hits`, after the
// partitions of `found` (whose files a carved duplicate repeats). Null when
// no carved file remains.
std::unique_ptr<PartitionInfo> BuildFoundFilesPartition(
    std::vector<ScanHit*>& hits, const std::vector<std::unique_ptr<PartitionInfo>>& found,
    const DeepScanSettings& settings, const PartitionInfo& scanned);

}  // namespace ambrel
