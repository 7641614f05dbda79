// Following a deep scan from the command line: its progress line on stderr,
// p or space on a terminal to pause and resume, Ctrl+C or SIGTERM to stop.
// Main thread.
#pragma once

#include "session/scan_job.h"

namespace ambrel::cli {

// Follows a started scan until it ends; then "scan finished" or "scan
// stopped".
void FollowScan(ScanJob& scan);
// Starts the scan and follows it; true when the scan completed (false when
// it was stopped or could not start).
bool RunScanWithProgress(ScanJob& scan);

}  // namespace ambrel::cli
