// One copying run: the job handed to a copying thread, its policies, and the
// program-wide copy statistics.
//
// Threads: the front end builds the job and starts the run (StartSaveJob);
// the copying thread reads it and writes only `state` (3 at its end, when
// still 0) and the result fields; the front end may set `state` to 2 at any
// time to stop the run. Recursion into folders works on SaveTarget copies,
// never on the job.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/notify.h"
#include "device/disk_handle.h"
#include "recovery/save_source.h"

namespace ambrel {

enum OverwritePolicy : std::uint32_t {
  kOverwriteAsk = 0,
  kOverwriteYes = 1,  // the default
  kOverwriteSkip = 2,
};

enum ReadErrorPolicy : std::uint32_t {
  kReadErrorsEmptyFile = 0,
  kReadErrorsKeepWritten = 1,  // the default
  kReadErrorsWriteAll = 2,
};

enum SaveJobState : std::uint32_t {
  kJobRunning = 0,
  kJobStopRequested = 2,
  kJobFinished = 3,
};

// Opens the source of a partition for reading. The default is OpenPartition;
// tests put a faulty device in between.
using SourceOpener = std::function<bool(const PartitionInfo&, DiskHandle&)>;

struct SaveJob {
  std::atomic<std::uint32_t> state{kJobRunning};
  std::string target;  // folder of the run (a file path for "open")
  std::uint32_t row = 0;
  std::uint32_t nodeId = 0;
  std::uint32_t overwrite = kOverwriteYes;
  std::uint32_t readErrors = kReadErrorsKeepWritten;

  const SaveSource* source = nullptr;
  UserPrompt* prompt = nullptr;  // null: the process-wide one
  SourceOpener opener;           // empty: OpenPartition

  // Results, written by the copying thread.
  std::string outputFolder;              // the folder the run wrote into
  std::uint32_t filesWritten = 0;        // files that ended as success
  std::uint64_t bytesWritten = 0;
  std::vector<std::string> failedFiles;  // output paths of failed files
  // Files written (or skipped) short of their whole data: the output path,
  // why, and the count of unreadable sectors.
  struct DamagedFile {
    std::string path;
    std::string reason;
    std::uint64_t badSectors = 0;
  };
  std::vector<DamagedFile> damagedFiles;
  // Names cut to fit the target's name length: {the name on disk, the name written}.
  std::vector<std::pair<std::string, std::string>> shortenedNames;
  // Output paths created in this run: a second node whose (made-safe) name
  // leads to one of them is written beside it, never over it.
  std::set<std::string> createdPaths;
};

// Program-wide statistics: totals since start and the last run's figures.
struct CopyStatistics {
  std::uint64_t totalBytes = 0;
  std::uint32_t totalFiles = 0;
  std::uint64_t lastBytes = 0;
  std::uint32_t lastFiles = 0;
};
CopyStatistics GetCopyStatistics();
void ResetCopyStatistics();

// The three copying threads; each takes its job as its only argument.
void SaveAllToDirThread(SaveJob* job);
void SaveCurrFileThread(SaveJob* job);
void QuickOpenFileThread(SaveJob* job);
using SaveThreadFn = void (*)(SaveJob*);

// Shown while the run goes on: the front end's progress view. Poll is
// called on the starter's thread about every 100 ms.
class SaveProgressView {
 public:
  virtual ~SaveProgressView() = default;
  virtual void Poll(SaveJob& job) = 0;
};

// Starts `thread` on `job` and waits for it, polling `view` (may be null).
// Refuses (false) while another run is going on. True when the job ended in
// state 3 (not stopped).
bool StartSaveJob(SaveJob& job, SaveThreadFn thread, SaveProgressView* view);

}  // namespace ambrel
