// Writing found folders and files under the target folder.
#include "recovery/save_item.h"

#include "app/user_prompt.h"
#include "diag/log.h"
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

bool TakenInRun(SaveJob& job, const std::string& path) {
  return job.createdPaths.count(path) > 0 || PathExists(path);
}

// Creates the output file; false when neither the path nor its retry can be
// created. `path` is updated to the file actually created.
bool CreateOutput(SaveJob& job, std::string& path, OutputFile& file) {
  if (file.Create(path)) return true;
  const std::string retry = RetryPath(path);
  if (retry == path || job.createdPaths.count(retry) > 0 || !file.Create(retry)) return false;
  path = retry;
  return true;
}

// The bytes to skip at the start of a reassembled MTS recording.
std::uint32_t LeadingSkip(const FoundFileNode& n) {
  if ((n.flags & kFlagVideoRebuilt) && n.typeCode == kTypeMts && n.fileCount < kSectorSize)
    return n.fileCount;
  return 0;
}

WriteOutcome WriteData(SaveJob& job, ScanProgress& progress, const SaveNode& node, OutputFile& file) {
  ExtentList extents;
  if (!BuildExtents(node.record, *node.partition, extents)) return WriteOutcome::kReadFailed;
  if (node.record.flags & kFlagResident)
    return WriteResidentData(progress, *node.partition, node.record, file, node.record.size);
  return WriteFromExtents(extents, progress, job, *node.partition, file, node.record.size, job.readErrors,
                          LeadingSkip(node.record));
}

}  // namespace

bool EnsureDirectory(std::string& path) {
  if (IsRealFolder(path) || MakeFolder(path)) return true;
  const std::string retry = RetryPath(path);
  if (retry == path || !(IsRealFolder(retry) || MakeFolder(retry))) return false;
  path = retry;
  return true;
}

bool SaveFile(SaveJob& job, ScanProgress& progress, std::uint32_t row, std::uint32_t nodeId,
              const std::string& path) {
  SaveNode node;
  if (!job.source->Resolve(row, nodeId, node) || node.partition == nullptr) return false;
  if (job.source->FilterView() && !(node.record.flags & kFlagFilterHit)) return true;
  std::string out = path;
  if (job.createdPaths.count(out) > 0) {
    // Another node of this run already wrote here (two names made equal by
    // the name check, or a deleted and a live file of the same name).
    out = UniqueVariant(out, [&](const std::string& p) { return TakenInRun(job, p); });
  } else if (PathExists(out)) {
    if (job.overwrite == kOverwriteSkip) return true;
    if (job.overwrite == kOverwriteAsk && !PromptOf(job).AskYesNo(out + "，已经存在，是否覆盖？")) return true;
  }
  OutputFile file;
  if (!CreateOutput(job, out, file)) {
    TraceLine("copy: cannot create " + out);
    job.failedFiles.push_back(out);
    return false;
  }
  job.createdPaths.insert(out);
  WriteOutcome outcome = WriteOutcome::kDone;
  if (node.record.size > 0) outcome = WriteData(job, progress, node, file);
  if (outcome != WriteOutcome::kDone && outcome != WriteOutcome::kStopped &&
      job.readErrors == kReadErrorsEmptyFile)
    file.Truncate(0);
  if (!file.Close() && outcome == WriteOutcome::kDone) outcome = WriteOutcome::kWriteFailed;
  if (outcome == WriteOutcome::kDone) return true;
  job.failedFiles.push_back(out);
  return false;
}

void SaveItem(SaveJob& job, ScanProgress& progress, const SaveTarget& target, bool onlyChecked) {
  if (job.state.load() == kJobStopRequested || target.depth > kMaxDepth) return;
  SaveNode node;
  if (!job.source->Resolve(target.row, target.nodeId, node)) return;
  if (onlyChecked && !IsCheckedOrPartly(node.record)) return;
  std::string path = target.folder + "/" + SafeComponent(node.name);
  if (IsFolderKind(KindOf(node.record))) {
    if (PathExists(path) && !IsRealFolder(path))
      path = UniqueVariant(path, [](const std::string& p) { return PathExists(p) && !IsRealFolder(p); });
    if (!EnsureDirectory(path)) {
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
