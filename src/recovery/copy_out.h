// The copy-out commands of the front end: "恢复" (the checked items),
// quick save of one item and "打开" (one file through a temporary copy),
// with the checks that come before a run and the report after it.
//
// Threads: every function here runs on the front end's (interface) thread;
// the copying itself runs on the thread StartSaveJob starts.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/notify.h"
#include "recovery/save_job.h"

namespace ambrel {

// What the deep scan is doing while the user asks for a copy.
struct ScanGateInput {
  std::uint32_t scanState = 3;  // 0 running, 1 paused, 2 stop requested, 3 finished
  std::int32_t partitionFsKind = 0;
  int recoveryMode = 0;         // 2 "删除文件恢复", 5 "误清空回收站"
};
// May a copy ("恢复") or an open ("打开") start now? Shows why not.
bool CheckScanGate(const std::string& verb, const ScanGateInput& scan, UserPrompt& prompt);

// The target checks, in order; shows the first failing message. `sourcePath`
// is the device or image file being recovered.
bool ValidateTarget(const std::string& folder, std::uint64_t byteTotal, const std::string& sourcePath,
                    UserPrompt& prompt);

// The folder the run writes into: the chosen folder when its last component
// already is the "SaveDir" value, else that folder's "SaveDir" subfolder
// (created). Empty when it cannot be created.
std::string ResolveSaveFolder(const std::string& chosen);
// The folder of the last run (for "open the target folder").
std::string CurrentOutputFolder();

// What the save-parameter dialog (or the command line) chose.
struct SaveParameters {
  std::string folder;
  std::uint32_t overwrite = kOverwriteYes;
  std::uint32_t readErrors = kReadErrorsKeepWritten;
};

// The outcome of a command, for the front end to show or print.
struct SaveRunResult {
  bool started = false;   // the checks passed and a run took place
  bool completed = false; // the run was not stopped
  std::uint32_t files = 0;
  std::uint64_t bytes = 0;
  std::uint32_t readErrors = 0;
  std::uint32_t reads = 0;
  std::vector<std::string> failedFiles;
  // "path: reason" of every file copied short of its whole data, or not at
  // all because nothing of it can be read (never counted in `files`).
  std::vector<std::string> damagedFiles;
  // "name on disk -> name written" of names cut to fit.
  std::vector<std::string> shortenedNames;
  std::string outputFolder;
};

// Everything a command needs besides the item.
struct SaveContext {
  const SaveSource* source = nullptr;
  UserPrompt* prompt = nullptr;  // null: the process-wide one
  SaveProgressView* view = nullptr;
  SourceOpener opener;
  ScanGateInput scan;
  std::string sourcePath;        // for the target check
  bool removableSource = false;  // adds the cable advice to the read-error report
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
bool QuickOpen(const SaveContext& context, std::uint32_t row, std::uint32_t nodeId);

// The temporary folder of "打开": the program's folder + "AmbrelTemp".
std::string TempOpenFolder();
// Files written there, under their own lock.
struct TempOpenEntry {
  std::string path;
  std::uint64_t size = 0;
};
void AddTempOpenFile(const std::string& path, std::uint64_t size);
// Deletes what it can of the earlier temporary files; false (after showing
// "请关闭刚才打开的临时文件，再打开新的文件！") when more than 10 remain or
// they hold more than 512 MiB.
bool CleanTempOpenFiles(UserPrompt& prompt);
std::vector<TempOpenEntry> TempOpenFiles();
void ClearTempOpenList();

// The completion texts.
std::string CompletionReportText(std::uint32_t files, std::uint64_t bytes);
std::string ReadErrorReportText(std::uint32_t failedReads, bool removable);
std::string FailedFilesReportText(std::size_t failedFiles);
std::string DamagedFilesReportText(const std::vector<std::string>& damaged);
std::string ShortenedNamesReportText(const std::vector<std::string>& shortened);

// The readable bytes of every checked file of the source's rows.
std::uint64_t ReadableCheckedBytes(const SaveContext& context);

}  // namespace ambrel
