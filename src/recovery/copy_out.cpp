// The copy-out commands, the checks before a run and the outcome after it.
#include "recovery/copy_out.h"

#include <algorithm>

#include "app/settings.h"
#include "common/text.h"
#include "diag/log.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/fs_identity.h"
#include "recovery/safe_name.h"
#include "recovery/save_item.h"

namespace ambrel {

namespace {

void PrepareJob(const SaveContext& c, const SaveParameters& p, SaveJob& job) {
  job.target = p.folder;
  job.overwrite = p.overwrite;
  job.readErrors = p.readErrors;
  job.source = c.source;
  job.prompt = c.prompt;
  job.opener = c.opener;
  job.ledger = c.ledger;
}

SaveRunResult Refused(CopyRefusal why) {
  SaveRunResult r;
  r.refusal = why;
  return r;
}

SaveRunResult ResultOf(const SaveContext& c, SaveJob& job, bool completed) {
  SaveRunResult r;
  r.started = true;
  r.completed = completed;
  r.refusal = completed ? CopyRefusal::kNone : CopyRefusal::kStopped;
  r.removableSource = c.removableSource;
  const CopyStatistics stats = job.Ledger().Statistics();
  r.files = stats.lastFiles;
  r.bytes = stats.lastBytes;
  r.readErrors = job.Ledger().Reads().failed.load();
  r.reads = job.Ledger().Reads().reads.load();
  r.reading = job.reading;
  r.writing = job.writing;
  r.failedFiles = job.failedFiles;
  for (const SaveJob::DamagedFile& d : job.damagedFiles) r.damagedFiles.push_back(d.report);
  r.shortenedNames = job.shortenedNames;
  r.outputFolder = job.outputFolder;
  if (completed && r.readErrors > 0) LogLine(LogCode::kCopy, Format("Disk scan error: %u / %u", r.readErrors, r.reads));
  return r;
}

SaveRunResult RunJob(const SaveContext& c, SaveJob& job, SaveThreadFn thread) {
  job.Ledger().ResetReads();
  if (!StartSaveJob(job, thread, c.view) && job.state.load() == kJobRunning) return Refused(CopyRefusal::kAnotherRun);
  return ResultOf(c, job, job.state.load() == kJobFinished);
}

}  // namespace

std::uint64_t ReadableCheckedBytes(const SaveContext& c) {
  ReadableSizes sizes(c.opener);
  SaveTotals totals;
  for (std::uint32_t row : c.source->Rows())
    for (std::uint32_t id : c.source->Children(row, kRootId)) CountItem(*c.source, sizes, row, id, true, totals, 0);
  return totals.bytes;
}

CopyRefusal CheckScanGate(const ScanGateInput& scan) {
  if (!scan.scanRunning) return CopyRefusal::kNone;
  if (scan.partitionFsKind == kFsFat32 && IsFreeSpaceMode(scan.recoveryMode))
    return CopyRefusal::kFat32DeletedScanRunning;
  if (SettingOn("MustScanEnd")) return CopyRefusal::kScanMustEnd;
  return CopyRefusal::kNone;
}

CopyRefusal ValidateTarget(const std::string& folder, std::uint64_t byteTotal, const std::string& sourcePath) {
  if (folder.empty()) return CopyRefusal::kNoTargetFolder;
  if (!FolderExists(folder)) return CopyRefusal::kTargetInvalid;
  if (!sourcePath.empty() && FolderOnSourceDevice(folder, sourcePath)) return CopyRefusal::kTargetOnSource;
  std::uint64_t freeBytes = 0;
  if (FreeBytesOfFolder(folder, freeBytes) && freeBytes < (byteTotal / 100) * 103)
    return CopyRefusal::kNotEnoughSpace;
  return CopyRefusal::kNone;
}

SaveRunResult RecoverChecked(const SaveContext& c, const SaveParameters& p, std::uint64_t itemCount,
                             std::uint64_t byteTotal) {
  if (const CopyRefusal gate = CheckScanGate(c.scan); gate != CopyRefusal::kNone) return Refused(gate);
  if (itemCount == 0) return Refused(CopyRefusal::kNothingChosen);
  const std::uint64_t readable = std::min(byteTotal, ReadableCheckedBytes(c));
  if (const CopyRefusal target = ValidateTarget(p.folder, readable, c.sourcePath); target != CopyRefusal::kNone)
    return Refused(target);
  SaveJob job;
  PrepareJob(c, p, job);
  return RunJob(c, job, &SaveAllToDirThread);
}

SaveRunResult QuickSave(const SaveContext& c, const SaveParameters& p, std::uint32_t row, std::uint32_t nodeId) {
  SaveNode node;
  if (!c.source->Resolve(row, nodeId, node)) return Refused(CopyRefusal::kNothingChosen);
  ReadableSizes sizes(c.opener);
  SaveTotals totals;
  CountItem(*c.source, sizes, row, nodeId, false, totals, 0);
  if (const CopyRefusal target = ValidateTarget(p.folder, totals.bytes, c.sourcePath); target != CopyRefusal::kNone)
    return Refused(target);
  SaveJob job;
  PrepareJob(c, p, job);
  job.row = row;
  job.nodeId = nodeId;
  return RunJob(c, job, &SaveCurrFileThread);
}

SaveRunResult QuickOpen(const SaveContext& c, std::uint32_t row, std::uint32_t nodeId) {
  if (const CopyRefusal gate = CheckScanGate(c.scan); gate != CopyRefusal::kNone) return Refused(gate);
  SaveNode node;
  if (!c.source->Resolve(row, nodeId, node) || !IsFileKind(KindOf(node.record))) return Refused(CopyRefusal::kNothingChosen);
  if (c.source->FilterView() && !(node.record.flags & kFlagFilterHit)) return Refused(CopyRefusal::kNothingChosen);
  const std::string folder = TempOpenFolder();
  if (!EnsureFolder(folder)) {
    TraceLine("Cannot create the folder " + folder);
    return Refused(CopyRefusal::kTargetInvalid);
  }
  SaveJob job;
  PrepareJob(c, SaveParameters{std::string(), kOverwriteYes, kReadErrorsEmptyFile}, job);
  if (!job.Ledger().CleanTempOpenFiles()) return Refused(CopyRefusal::kTooManyTempFiles);
  const std::string path = folder + "/" + FitNameLength(SafeComponent(node.name));
  job.target = path;
  job.Ledger().AddTempOpenFile(path, node.record.size);
  job.row = row;
  job.nodeId = nodeId;
  job.Ledger().ResetReads();
  const bool finished = StartSaveJob(job, &QuickOpenFileThread, c.view);
  SaveRunResult r = ResultOf(c, job, finished);
  r.opened = finished && job.failedFiles.empty() && OpenWithDesktop(path);
  return r;
}

std::string TempOpenFolder() {
  std::string folder = ProgramFolder();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + "AmbrelTemp";
}

}  // namespace ambrel
