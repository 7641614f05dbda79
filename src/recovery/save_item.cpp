// Writing found folders and files under the target folder.
#include "recovery/save_item.h"

#include "app/user_prompt.h"
#include "diag/log.h"
#include "common/text.h"
#include "recovery/file_plan.h"
#include "recovery/safe_name.h"

namespace ambrel {

namespace {

constexpr int kMaxDepth = 1024;
constexpr std::uint32_t kTypeMts = 88;

UserPrompt& PromptOf(SaveJob& job) { return job.prompt ? *job.prompt : CurrentUserPrompt(); }

bool IsCheckedOrPartly(const FoundFileNode& n) {
  const unsigned s = CheckStateOf(n);
  return s == 1 || s == 2;
}

// The sibling path with the invalid characters of its last component
// replaced (the retry after a failed create).
std::string RetryPath(const std::string& path) {
  return ParentPath(path) + "/" + ReplaceInvalidNameChars(LastComponent(path));
}

// The safe name cut to the target's name length; a cut is recorded for the
// report.
std::string FittedName(SaveJob& job, const std::string& name) {
  const std::string safe = SafeComponent(name);
  std::string fitted = FitNameLength(safe);
  if (fitted != safe) job.shortenedNames.emplace_back(name, fitted);
  return fitted;
}

bool TakenInRun(SaveJob& job, const std::string& path) {
  return job.createdPaths.count(path) > 0 || PathExists(path);
}

// True when `path` lies directly in a folder this run made: what is there
// is only what the run itself put there.
bool InMadeFolder(const SaveJob& job, const std::string& path) {
  return job.madeFolders.count(ParentPath(path)) > 0;
}

// What is at `path`, answered from the run's own records in a folder it
// made (no look at the disk), else by one look.
PathKind KindInRun(const SaveJob& job, const std::string& path) {
  if (!InMadeFolder(job, path)) return KindAtPath(path);
  if (job.madeFolders.count(path) > 0) return PathKind::kFolder;
  return job.createdPaths.count(path) > 0 ? PathKind::kRegularFile : PathKind::kNothing;
}

}  // namespace

std::uint32_t LeadingSkipBytes(const FoundFileNode& n) {
  if ((n.flags & kFlagVideoRebuilt) && n.typeCode == kTypeMts && n.fileCount < kSectorSize)
    return n.fileCount;
  return 0;
}

WriteOutcome WritePlannedData(SaveJob& job, ScanProgress& progress, const SaveNode& node, const FilePlan& plan,
                              DiskHandle& handle, ByteSink& file, FileTally& tally) {
  if (plan.readable == 0) return WriteOutcome::kDone;
  if (plan.resident) {
    const WriteOutcome outcome = WriteResidentData(progress, job, handle, node.record, plan.recordBytes, file,
                                                  plan.readable);
    if (outcome == WriteOutcome::kDone) tally.written = plan.readable;
    return outcome;
  }
  if (plan.unitBytes != 0)
    return WriteCompressed(plan.extents, plan.spc, plan.unitBytes, progress, job, handle, file, plan.readable,
                           job.readErrors, tally);
  return WriteFromExtents(plan.extents, progress, job, handle, file, plan.readable, job.readErrors,
                          LeadingSkipBytes(node.record), tally);
}

namespace {

void ReportDamaged(SaveJob& job, DamagedFileReport report) {
  TraceLine("copy: damaged " + report.path);
  job.damagedFiles.push_back(SaveJob::DamagedFile{std::move(report)});
}

// Why a copied file is not whole ("" when it is).
// Why a file is not whole; no damage at all when it is.
DamagedFileReport DamageOf(const std::string& path, const FilePlan& plan, const FileTally& tally,
                           WriteOutcome outcome) {
  DamagedFileReport r;
  r.path = path;
  r.badSectors = tally.badSectors;
  r.undecodableUnits = tally.undecodableUnits;
  r.damage = plan.damage;
  r.readable = plan.readable;
  r.size = plan.size;
  r.clusters = plan.clusters;
  r.takenClusters = plan.takenClusters;
  r.crossLinkedWith = plan.crossLinkedWith;
  r.overwrittenBy = plan.overwrittenBy;
  r.validLength = plan.validLength;
  const bool explained = r.badSectors > 0 || r.undecodableUnits > 0 || r.damage != DataDamage::kNone;
  r.readFailed = !explained && outcome == WriteOutcome::kReadFailed;
  r.shortCopy = !explained && !r.readFailed && plan.size > 0 && tally.written < std::min(plan.size, plan.readable);
  return r;
}

bool IsDamaged(const DamagedFileReport& r) {
  return r.badSectors > 0 || r.undecodableUnits > 0 || r.damage != DataDamage::kNone || r.readFailed || r.shortCopy;
}

// Gives the finished temporary file its name; the retry replaces the
// characters other file systems refuse. `out` becomes the name used.
bool CommitOutput(SaveJob& job, OutputFile& file, std::string& out) {
  if (file.CommitAs(out)) return true;
  const std::string retry = RetryPath(out);
  if (retry == out || job.createdPaths.count(retry) > 0 || !file.CommitAs(retry)) return false;
  out = retry;
  return true;
}

}  // namespace

namespace {

// Makes the folder, or takes the real folder already there. A new folder
// is recorded in the job's madeFolders.
bool MakeOrTakeFolder(const std::string& path, SaveJob* job) {
  if (job != nullptr && job->madeFolders.count(path) > 0) return true;
  if (MakeFolder(path)) {
    if (job != nullptr) job->madeFolders.insert(path);
    return true;
  }
  return IsRealFolder(path);
}

}  // namespace

bool EnsureDirectory(std::string& path, SaveJob* job) {
  if (MakeOrTakeFolder(path, job)) return true;
  const std::string retry = RetryPath(path);
  if (retry == path || !MakeOrTakeFolder(retry, job)) return false;
  path = retry;
  return true;
}

bool SaveFile(SaveJob& job, ScanProgress& progress, std::uint32_t row, std::uint32_t nodeId,
              const std::string& path) {
  SaveNode node;
  if (!job.source->Resolve(row, nodeId, node) || node.partition == nullptr) return false;
  if (job.source->FilterView() && !(node.record.flags & kFlagFilterHit)) return true;
  std::string out = path;
  const PathKind there = KindInRun(job, out);
  if (job.createdPaths.count(out) > 0 || (there != PathKind::kNothing && there != PathKind::kRegularFile)) {
    // Another node of this run already wrote here (two names made equal by
    // the name check, or a deleted and a live file of the same name), or a
    // folder or link is in the way: the file goes beside it.
    out = UniqueVariant(out, [&](const std::string& p) { return TakenInRun(job, p); });
  } else if (there == PathKind::kRegularFile) {
    if (job.overwrite == kOverwriteSkip) return true;
    if (job.overwrite == kOverwriteAsk && !PromptOf(job).Ask({PromptId::kOverwriteFile, out})) return true;
  }
  DiskHandle* source = JobSource(job, *node.partition);
  if (source == nullptr) {
    job.failedFiles.push_back(out);
    return false;
  }
  DiskHandle& handle = *source;
  const FilePlan plan = PlanFileData(node.record, *node.partition, 0, handle.lastLba);
  if (plan.Skip() || plan.damage == DataDamage::kEncrypted || plan.damage == DataDamage::kRecordDamaged ||
      plan.damage == DataDamage::kRecordTorn) {
    // Nothing of it can be copied (encrypted, damaged record, no data on
    // the device, every cluster overwritten): reported, and no file is made.
    DamagedFileReport skipped = DamageOf(out, plan, FileTally{}, WriteOutcome::kDone);
    skipped.written = false;
    ReportDamaged(job, std::move(skipped));
    return false;
  }
  OutputFile file;
  const std::string folder = ParentPath(out);
  if (job.madeFolders.count(folder) == 0 && job.sweptFolders.insert(folder).second) {
    // A copy killed in an earlier run left its temporary file here (a
    // folder this run made has none).
    for (const std::string& name : RemovePartialLeftovers(folder)) {
      TraceLine("copy: removed the leftover " + folder + "/" + name);
      job.removedLeftovers.push_back(folder + "/" + name);
    }
  }
  bool created = false;
  {
    const TimeSpent spent(job.writing.seconds);
    if (!job.openFolder.IsOpen() || job.openFolder.Path() != folder) job.openFolder.Open(folder);
    // A folder that cannot be opened as one (a link to a folder, say) is
    // written through its path, as before.
    created = job.openFolder.IsOpen() ? file.CreateTemporary(job.openFolder) : file.CreateTemporary(folder);
  }
  if (!created) {
    TraceLine("copy: cannot create a file in " + ParentPath(out));
    job.failedFiles.push_back(out);
    return false;
  }
  ++job.reading.files;
  FileTally tally;
  WriteOutcome outcome = WritePlannedData(job, progress, node, plan, handle, file, tally);
  if (outcome == WriteOutcome::kStopped || outcome == WriteOutcome::kWriteFailed ||
      outcome == WriteOutcome::kOpenFailed) {
    // Incomplete: the temporary file goes, the real name is never used.
    file.Discard();
    job.failedFiles.push_back(out);
    return false;
  }
  DamagedFileReport damage = DamageOf(out, plan, tally, outcome);
  const bool readFailed = tally.badSectors > 0 || outcome == WriteOutcome::kReadFailed;
  if (readFailed && job.readErrors == kReadErrorsEmptyFile) {
    file.Truncate(0);
    tally.written = 0;
  }
  bool committed = false;
  {
    const TimeSpent spent(job.writing.seconds);
    committed = CommitOutput(job, file, out);
  }
  if (!committed) {
    file.Discard();
    job.failedFiles.push_back(out);
    return false;
  }
  ++job.writing.files;
  job.createdPaths.insert(out);
  if (!IsDamaged(damage)) return true;
  damage.path = out;
  ReportDamaged(job, std::move(damage));
  return false;
}

void SaveItem(SaveJob& job, ScanProgress& progress, const SaveTarget& target, bool onlyChecked) {
  if (job.state.load() == kJobStopRequested || target.depth > kMaxDepth) return;
  SaveNode node;
  if (!job.source->Resolve(target.row, target.nodeId, node)) return;
  if (onlyChecked && !IsCheckedOrPartly(node.record)) return;
  std::string path = target.folder + "/" + FittedName(job, node.name);
  if (IsFolderKind(KindOf(node.record))) {
    const PathKind there = KindInRun(job, path);
    if (there != PathKind::kNothing && there != PathKind::kFolder)
      path = UniqueVariant(path, [](const std::string& p) { return PathExists(p) && !IsRealFolder(p); });
    if (!EnsureDirectory(path, &job)) {
      TraceLine("copy: cannot create folder " + path);
      return;
    }
    for (std::uint32_t child : job.source->Children(target.row, target.nodeId))
      SaveItem(job, progress, SaveTarget{path, target.row, child, target.depth + 1}, onlyChecked);
    return;
  }
  SetCurrentFile(progress, node.name, node.record.size);
  if (SaveFile(job, progress, target.row, target.nodeId, path)) ++job.filesWritten;
  ++progress.u.copy.filesCopied;
  PublishProgress(progress);
}

}  // namespace ambrel
