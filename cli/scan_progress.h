// The deep scan's progress line on stderr: percentage, speed, elapsed and
// remaining time, the eight sector-kind counters and the files found.
// Redrawn in place about every 200 ms on a terminal; elsewhere (a log
// file, a pipe) one line every 10 seconds. Main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "session/scan_job.h"

namespace ambrel::cli {

// The line for a progress record, `elapsed` seconds into the scan (pauses
// excluded) and `baseline` sectors done before this run (a resumed scan).
std::string ScanProgressText(const ScanProgress& p, std::int64_t elapsed, std::uint64_t baseline,
                             bool paused);

class ScanProgressLine {
 public:
  ScanProgressLine(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  void Show(const ScanProgress& p, std::int64_t elapsed, bool paused);
  // Ends the line (the last figures stay visible).
  void Finish(const ScanProgress& p, std::int64_t elapsed);

 private:
  std::FILE* out_;
  bool terminal_;
  bool haveBaseline_ = false;
  std::uint64_t baseline_ = 0;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace ambrel::cli
