// Running a deep scan from the command line: the scanned device as one
// partition record, and the scan itself with its progress line on stderr
// (Ctrl+C stops it). Main thread.
#pragma once

#include <string>

#include "catalog/partition_info.h"
#include "deepscan/scan_session.h"
#include "device/device_enum.h"

namespace ambrel::cli {

struct ScanTarget {
  DiskDescription description;
  PartitionInfo disk;  // the whole device
};

// Describes PATH and makes the whole-device record a scan reads (a volume
// that fills the image gives the file system whose free space modes 2 and
// 5 read). False, with the reason on stderr, when PATH cannot be opened.
bool PrepareScanTarget(const std::string& path, const char* command, ScanTarget& out);

// Follows a started scan until it ends: the progress line on stderr, p or
// space on a terminal to pause and resume, Ctrl+C or SIGTERM to stop; then
// "scan finished" or "scan stopped".
void FollowScan(ScanSession& scan);
// Starts the scan and follows it; true when the scan completed (false when
// it was stopped or could not start).
bool RunScanWithProgress(ScanSession& scan);

}  // namespace ambrel::cli
