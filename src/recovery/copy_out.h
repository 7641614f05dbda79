// The copy-out commands of the front end: "恢复" (the checked items),
// quick save of one item and "打开" (one file through a temporary copy),
// with the checks that come before a run and the outcome after it. The
// outcome is typed; the front end words it.
//
// Threads: every function here runs on the front end's (interface) thread;
// the copying itself runs on the thread StartSaveJob starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/notify.h"
#include "deepscan/scan_settings.h"
#include "recovery/copy_ledger.h"
#include "recovery/save_job.h"

namespace ambrel {

// What the deep scan is doing while the user asks for a copy.
struct ScanGateInput {
  bool scanRunning = false;  // running or paused
  std::int32_t partitionFsKind = 0;
  RecoveryMode recoveryMode = RecoveryMode::kDiskFiles;
};

// Why a command did not run (or, for kStopped, did not finish).
enum class CopyRefusal : std::uint8_t {
  kNone,
  kFat32DeletedScanRunning,  // FAT32 mode 2 or 5: the copy waits for the scan's end
  kScanMustEnd,              // the setting MustScanEnd and a scan that runs
  kNothingChosen,
  kNoTargetFolder,
  kTargetInvalid,
  kTargetOnSource,
  kNotEnoughSpace,
  kTooManyTempFiles,         // "打开": earlier temporary copies still open
  kAnotherRun,               // a run of this session is going on
  kStopped,                  // the user stopped the run
};

// May a copy or an open start now?
CopyRefusal CheckScanGate(const ScanGateInput& scan);

// The target checks, in order; the first that fails. `sourcePath` is the
// device or image file being recovered (empty: no device check).
CopyRefusal ValidateTarget(const std::string& folder, std::uint64_t byteTotal, const std::string& sourcePath);

// The folder the run writes into: the chosen folder when its last component
// already is the "SaveDir" value, else that folder's "SaveDir" subfolder
// (created). Empty when it cannot be created.
std::string ResolveSaveFolder(const std::string& chosen);

// What the save-parameter dialog (or the command line) chose.
struct SaveParameters {
  std::string folder;
  std::uint32_t overwrite = kOverwriteYes;
  std::uint32_t readErrors = kReadErrorsKeepWritten;
};

// The outcome of a command.
struct SaveRunResult {
  CopyRefusal refusal = CopyRefusal::kNone;
  bool started = false;    // the checks passed and a run took place
  bool completed = false;  // the run was not stopped
  bool opened = false;     // "打开": the copy was handed to the desktop
  bool removableSource = false;
  std::uint32_t files = 0;
  std::uint64_t bytes = 0;
  std::uint32_t readErrors = 0;
  std::uint32_t reads = 0;
  // Time spent reading the source and writing the output files, with the
  // files and bytes each moved.
  SaveJob::Effort reading;
  SaveJob::Effort writing;
  std::vector<std::string> failedFiles;
  std::vector<DamagedFileReport> damagedFiles;
  // {name on disk, name written} of names cut to fit.
  std::vector<std::pair<std::string, std::string>> shortenedNames;
  std::string outputFolder;
};

// Everything a command needs besides the item.
struct SaveContext {
  const SaveSource* source = nullptr;
  UserPrompt* prompt = nullptr;  // the overwrite question; null: the process-wide one
  SaveProgressView* view = nullptr;
  CopyLedger* ledger = nullptr;  // the session's; required
  SourceOpener opener;
  ScanGateInput scan;
  std::string sourcePath;        // for the target check
  bool removableSource = false;  // the read-error report adds the cable advice
};

// "恢复": copies every checked item of every row. `itemCount` and
// `byteTotal` are the checked files' figures (SumSelected); the space check
// uses the smaller of `byteTotal` and the checked files' readable sizes, so
// that an impossible size recorded on disk does not block the run.
SaveRunResult RecoverChecked(const SaveContext& context, const SaveParameters& parameters,
                             std::uint64_t itemCount, std::uint64_t byteTotal);
// Copies one item (a file, or a folder with all it holds), check marks
// ignored.
SaveRunResult QuickSave(const SaveContext& context, const SaveParameters& parameters, std::uint32_t row,
                        std::uint32_t nodeId);
// Copies one file into the temporary folder and opens it with the desktop.
SaveRunResult QuickOpen(const SaveContext& context, std::uint32_t row, std::uint32_t nodeId);

// The temporary folder of "打开": the program's folder + "AmbrelTemp".
std::string TempOpenFolder();

// The readable bytes of every checked file of the source's rows.
std::uint64_t ReadableCheckedBytes(const SaveContext& context);

}  // namespace ambrel
