// What the copies of one session keep from run to run: the statistics, the
// folder of the last run, the temporary copies that "打开" left, whether a
// run is going on, and the read counters of the run. Each session has its
// own, so two sessions in one process never see each other's copies.
//
// Threads: any; every member takes the ledger's lock for one copy or list
// operation only (the read counters are atomics).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "device/disk_handle.h"

namespace ambrel {

// Totals since the session began and the last run's figures.
struct CopyStatistics {
  std::uint64_t totalBytes = 0;
  std::uint32_t totalFiles = 0;
  std::uint64_t lastBytes = 0;
  std::uint32_t lastFiles = 0;
};

// A temporary copy written by "打开".
struct TempOpenEntry {
  std::string path;
  std::uint64_t size = 0;
};

class CopyLedger {
 public:
  CopyStatistics Statistics() const;
  // Adds a finished run; `zeroLast` leaves the last-run figures at 0.
  void CountRun(std::uint64_t bytes, std::uint32_t files, bool zeroLast);
  void ResetStatistics();

  // The folder the last run wrote into (for "open the target folder").
  std::string OutputFolder() const;
  void SetOutputFolder(const std::string& folder);

  // One run at a time: false while another is going on.
  bool BeginRun();
  void EndRun();

  // Counts every read of the run (mode 2), from zero.
  ReadStatistics& Reads() { return reads_; }
  void ResetReads();

  void AddTempOpenFile(const std::string& path, std::uint64_t size);
  std::vector<TempOpenEntry> TempOpenFiles() const;
  void ClearTempOpenList();
  // Deletes what it can of the earlier temporary copies; false when more
  // than 10 remain or they hold more than 512 MiB.
  bool CleanTempOpenFiles();

 private:
  mutable std::mutex lock_;
  CopyStatistics statistics_;
  std::string outputFolder_;
  bool running_ = false;
  std::vector<TempOpenEntry> tempFiles_;
  ReadStatistics reads_;
};

}  // namespace ambrel
