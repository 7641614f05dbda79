// One copying run: the job handed to a copying thread and its policies.
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
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/notify.h"
#include "app/progress.h"
#include "device/disk_handle.h"
#include "platform/output_file.h"
#include "recovery/copy_ledger.h"
#include "recovery/file_plan.h"
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

// A file written short of its whole data, or not at all because nothing of
// it can be read (never counted in `files`).
struct DamagedFileReport {
  std::string path;
  DataDamage damage = DataDamage::kNone;
  std::uint64_t readable = 0;       // bytes the file's data gave
  std::uint64_t size = 0;           // bytes its entry claims
  std::uint64_t badSectors = 0;
  std::uint64_t undecodableUnits = 0;
  bool readFailed = false;          // the source failed and nothing else explains it
  bool shortCopy = false;           // fewer bytes written than readable
  bool written = true;              // a file was made (false: skipped, nothing of it usable)
  std::uint64_t clusters = 0;       // overwritten files: clusters of the data
  std::uint64_t takenClusters = 0;  // and of those, the ones in use again
  std::string crossLinkedWith;      // cross-linked files: the other file
  std::string overwrittenBy;        // overwritten files: the live file holding the first cluster taken
  std::uint64_t validLength = 0;    // exFAT files never written whole: ValidDataLength
};

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
  // The session's ledger; null: the job's own (a run nobody follows).
  CopyLedger* ledger = nullptr;
  // The run's progress records, for the view to take.
  ProgressMailbox progress;

  CopyLedger& Ledger() { return ledger ? *ledger : ownLedger; }

  // Results, written by the copying thread.
  std::string outputFolder;              // the folder the run wrote into
  std::uint32_t filesWritten = 0;        // files that ended as success
  std::uint64_t bytesWritten = 0;
  std::vector<std::string> failedFiles;  // output paths of failed files
  // Files written (or skipped) short of their whole data, and why.
  struct DamagedFile {
    DamagedFileReport report;
  };
  std::vector<DamagedFile> damagedFiles;
  // Names cut to fit the target's name length: {the name on disk, the name written}.
  std::vector<std::pair<std::string, std::string>> shortenedNames;
  // Output paths created in this run: a second node whose (made-safe) name
  // leads to one of them is written beside it, never over it.
  std::set<std::string> createdPaths;
  // Folders of this run already rid of the temporary files a killed copy
  // left behind, and the paths of the leftovers removed.
  std::set<std::string> sweptFolders;
  std::vector<std::string> removedLeftovers;
  // Folders this run made itself: nothing is in them but what the run wrote
  // (createdPaths, and folders of this set), so names there need no look.
  std::set<std::string> madeFolders;
  // The folder the last file was written in, kept open: the files of one
  // folder are made and renamed in it by name.
  OutputFolder openFolder;
  // The source of each partition, opened at its first file and read by
  // every file after it; closed when the run ends.
  std::map<const PartitionInfo*, DiskHandle> openSources;
  // Where the time went: reading the source and writing the output files
  // (creating, writing, naming), with what each moved.
  struct Effort {
    std::uint32_t files = 0;
    std::uint64_t bytes = 0;
    double seconds = 0;
  };
  Effort reading;
  Effort writing;

 private:
  CopyLedger ownLedger;
};

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
// Refuses (false) while another run of the same ledger is going on. True when the job ended in
// state 3 (not stopped).
bool StartSaveJob(SaveJob& job, SaveThreadFn thread, SaveProgressView* view);

}  // namespace ambrel
