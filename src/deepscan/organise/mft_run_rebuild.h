// NTFS partitions placed from runs of FILE records: a run that starts with
// the record of $MFT is the start of an MFT (or of its mirror), and the
// cluster its run list names gives the partition start. Pure functions over
// the FILE-record hits (in LBA order) and their summaries.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "deepscan/scan_hit.h"

namespace ambrel {

struct MftRunGroup {
  std::uint32_t first = 0;     // index of the run's first FILE-record hit
  std::uint32_t records = 0;   // records in the run
  std::uint64_t lba = 0;       // LBA of the first record
  bool startsWithMft = false;  // the first record is named $MFT
  std::uint32_t recordSectors = 2;  // the 512-byte sectors of one record
};

// Consecutive records of one size (each one record after the previous
// one) form a run.
std::vector<MftRunGroup> GroupMftRuns(const std::vector<const ScanHit*>& records);

// A sectors-per-cluster value NTFS can have: a power of two from 1 to 128.
bool IsValidNtfsSpc(std::uint64_t spc);

// Sectors per cluster from the summary of $MFTMirr (the run's second
// record): its data size when above 4096 bytes, else 8 / the cluster count
// of its first extent. Empty when that is 0 or not a valid cluster size.
// `recordSectors`: the 512-byte sectors of one FILE record (the mirror
// holds four records).
std::optional<std::uint32_t> SpcFromMirrorRecord(const RecordSummaryView& mirror, std::uint32_t recordSectors = 2);

struct MftRunPlacement {
  std::uint64_t start = 0;       // partition start LBA
  std::uint32_t spc = 0;
  std::uint64_t mftCluster = 0;     // cluster of the MFT ($MFT's first extent)
  std::uint64_t mirrorCluster = 0;  // cluster of the mirror ($MFTMirr's first extent)
  bool isMirror = false;            // the run was the mirror
  std::uint32_t recordSectors = 2;  // the 512-byte sectors of one FILE record
};

// Places the partition of one run: only runs flagged $MFT with more than 3
// records. Empty for a zero-length or missing first extent, an invalid
// cluster size or a start below 0.
std::optional<MftRunPlacement> BuildFromMftRun(const MftRunGroup& group,
                                               const std::vector<const ScanHit*>& records);

// The first extent's cluster (LCN) of a run list; empty when it has none,
// its length is 0 or it is sparse.
std::optional<std::uint64_t> FirstExtentCluster(ByteSpan runs,
                                                std::uint64_t* clusterCount = nullptr);

}  // namespace ambrel
