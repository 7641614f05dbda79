// What `scan` prints when the deep scan has ended: the sector counts, the
// hits per kind, and every boot sector, partition table and GPT header
// found with its LBA, and the runs of FILE records (as text or JSON).
// Main thread, after the scan's Join.
#pragma once

#include <cstdint>
#include <vector>

#include "json_output.h"
#include "session/scan_job.h"

namespace ambrel::cli {

// A run of FILE records two sectors apart: an MFT or its mirror.
struct FileRecordRun {
  std::uint64_t firstLba = 0;
  std::uint32_t records = 0;
  bool holdsMft = false;  // its first record is named $MFT
};

// The runs of more than 3 records among the FILE-record hits, in LBA order.
std::vector<FileRecordRun> FileRecordRuns(const ScanSession& scan);

// The structures and counts as JSON members of `out`.
void AddScanStructures(const ScanSession& scan, Json& out);
// The same as text on stdout.
void PrintScanStructures(const ScanSession& scan);

}  // namespace ambrel::cli
