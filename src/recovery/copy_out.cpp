// The copy-out commands, the checks before a run and the report after it.
#include "recovery/copy_out.h"

#include <algorithm>

#include "app/settings.h"
#include "app/user_prompt.h"
#include "common/text.h"
#include "diag/log.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/fs_identity.h"
#include "platform/output_file.h"
#include "recovery/safe_name.h"
#include "recovery/save_item.h"

namespace ambrel {

namespace {

constexpr std::int32_t kModeDeletedFiles = 2;
constexpr std::int32_t kModeEmptiedRecycleBin = 5;
constexpr std::size_t kMaxLockedTempFiles = 10;
constexpr std::uint64_t kMaxLockedTempBytes = 0x20000000;  // 512 MiB

UserPrompt& PromptOf(const SaveContext& c) { return c.prompt ? *c.prompt : CurrentUserPrompt(); }

void PrepareJob(const SaveContext& c, const SaveParameters& p, SaveJob& job) {
  job.target = p.folder;
  job.overwrite = p.overwrite;
  job.readErrors = p.readErrors;
  job.source = c.source;
  job.prompt = c.prompt;
  job.opener = c.opener;
}

void ResetReadStatistics() {
  ReadStats().reads = 0;
  ReadStats().failed = 0;
  ReadStats().mode = 2;
}

SaveRunResult ResultOf(const SaveJob& job, bool completed) {
  SaveRunResult r;
  r.started = true;
  r.completed = completed;
  const CopyStatistics stats = GetCopyStatistics();
  r.files = stats.lastFiles;
  r.bytes = stats.lastBytes;
  r.readErrors = ReadStats().failed.load();
  r.reads = ReadStats().reads.load();
  r.failedFiles = job.failedFiles;
  for (const SaveJob::DamagedFile& d : job.damagedFiles) r.damagedFiles.push_back(d.path + ": " + d.reason);
  for (const auto& [from, to] : job.shortenedNames) r.shortenedNames.push_back(from + " -> " + to);
  r.outputFolder = job.outputFolder;
  return r;
}

// The messages after a run: the read errors, the failed files, the totals.
void ShowReport(const SaveContext& c, const SaveRunResult& r) {
  if (r.readErrors > 0) {
    PromptOf(c).ShowMessage(ReadErrorReportText(r.readErrors, c.removableSource));
    LogLine(3, Format("Disk scan error: %u / %u", r.readErrors, r.reads));
  }
  if (!r.failedFiles.empty()) PromptOf(c).ShowMessage(FailedFilesReportText(r.failedFiles.size()));
  if (!r.damagedFiles.empty()) PromptOf(c).ShowMessage(DamagedFilesReportText(r.damagedFiles));
  if (!r.shortenedNames.empty()) PromptOf(c).ShowMessage(ShortenedNamesReportText(r.shortenedNames));
  PromptOf(c).ShowMessage(CompletionReportText(r.files, r.bytes));
}

SaveRunResult RunJob(const SaveContext& c, SaveJob& job, SaveThreadFn thread) {
  ResetReadStatistics();
  const bool completed = StartSaveJob(job, thread, c.view);
  SaveRunResult r = ResultOf(job, completed);
  if (!completed) {
    PromptOf(c).ShowMessage("恢复文件终止！");
    return r;
  }
  ShowReport(c, r);
  return r;
}

}  // namespace

std::uint64_t ReadableCheckedBytes(const SaveContext& c) {
  ReadableSizes sizes(c.opener);
  SaveTotals totals;
  for (std::uint32_t row : c.source->Rows())
    for (std::uint32_t id : c.source->Children(row, kRootId)) CountItem(*c.source, sizes, row, id, true, totals, 0);
  return totals.bytes;
}

bool CheckScanGate(const std::string& verb, const ScanGateInput& scan, UserPrompt& prompt) {
  if (scan.scanState != 0 && scan.scanState != 1) return true;
  if (scan.partitionFsKind == kFsFat32 &&
      (scan.recoveryMode == kModeDeletedFiles || scan.recoveryMode == kModeEmptiedRecycleBin)) {
    prompt.ShowMessage(Format("FAT32分区删除的文件，扫描完后才能%s，请耐心等待!", verb.c_str()));
    return false;
  }
  if (SettingOn("MustScanEnd")) {
    prompt.ShowMessage(Format("扫描完后才能%s，请耐心等待!", verb.c_str()));
    return false;
  }
  return true;
}

bool ValidateTarget(const std::string& folder, std::uint64_t byteTotal, const std::string& sourcePath,
                    UserPrompt& prompt) {
  if (folder.empty()) {
    prompt.ShowMessage("请选择文件恢复后的保存目录！");
    return false;
  }
  if (!FolderExists(folder)) {
    prompt.ShowMessage("选择的目录不合法，恢复失败！");
    return false;
  }
  if (!sourcePath.empty() && FolderOnSourceDevice(folder, sourcePath)) {
    prompt.ShowMessage("您选择的恢复文件保存目录在您需要恢复数据的分区里，请选择其他分区里的目录!");
    return false;
  }
  std::uint64_t freeBytes = 0;
  if (FreeBytesOfFolder(folder, freeBytes) && freeBytes < (byteTotal / 100) * 103) {
    prompt.ShowMessage("您选择的目录所在磁盘的空间不足!");
    return false;
  }
  return true;
}

SaveRunResult RecoverChecked(const SaveContext& c, const SaveParameters& p, std::uint64_t itemCount,
                             std::uint64_t byteTotal) {
  UserPrompt& prompt = PromptOf(c);
  if (!CheckScanGate("恢复", c.scan, prompt)) return {};
  if (itemCount == 0) {
    prompt.ShowMessage("请至少选择一个需要恢复的文件或目录!");
    return {};
  }
  const std::uint64_t readable = std::min(byteTotal, ReadableCheckedBytes(c));
  if (!ValidateTarget(p.folder, readable, c.sourcePath, prompt)) return {};
  SaveJob job;
  PrepareJob(c, p, job);
  return RunJob(c, job, &SaveAllToDirThread);
}

SaveRunResult QuickSave(const SaveContext& c, const SaveParameters& p, std::uint32_t row, std::uint32_t nodeId) {
  SaveNode node;
  if (!c.source->Resolve(row, nodeId, node)) return {};
  ReadableSizes sizes(c.opener);
  SaveTotals totals;
  CountItem(*c.source, sizes, row, nodeId, false, totals, 0);
  if (!ValidateTarget(p.folder, totals.bytes, c.sourcePath, PromptOf(c))) return {};
  SaveJob job;
  PrepareJob(c, p, job);
  job.row = row;
  job.nodeId = nodeId;
  return RunJob(c, job, &SaveCurrFileThread);
}

bool QuickOpen(const SaveContext& c, std::uint32_t row, std::uint32_t nodeId) {
  UserPrompt& prompt = PromptOf(c);
  if (!CheckScanGate("打开", c.scan, prompt)) return false;
  SaveNode node;
  if (!c.source->Resolve(row, nodeId, node) || !IsFileKind(KindOf(node.record))) return false;
  if (c.source->FilterView() && !(node.record.flags & kFlagFilterHit)) return false;
  const std::string folder = TempOpenFolder();
  if (!EnsureFolder(folder)) {
    TraceLine("创建目录: " + folder + " 失败！");
    return false;
  }
  if (!CleanTempOpenFiles(prompt)) return false;
  const std::string path = folder + "/" + FitNameLength(SafeComponent(node.name));
  AddTempOpenFile(path, node.record.size);
  SaveJob job;
  PrepareJob(c, SaveParameters{path, kOverwriteYes, kReadErrorsEmptyFile}, job);
  job.row = row;
  job.nodeId = nodeId;
  ResetReadStatistics();
  if (!StartSaveJob(job, &QuickOpenFileThread, c.view) || !job.failedFiles.empty()) return false;
  return OpenWithDesktop(path);
}

// ---- temporary copies of "打开" ----

namespace {
std::mutex g_tempLock;
std::vector<TempOpenEntry> g_tempFiles;
}  // namespace

std::string TempOpenFolder() {
  std::string folder = ProgramFolder();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + "AmbrelTemp";
}

void AddTempOpenFile(const std::string& path, std::uint64_t size) {
  std::lock_guard<std::mutex> lock(g_tempLock);
  g_tempFiles.push_back(TempOpenEntry{path, size});
}

std::vector<TempOpenEntry> TempOpenFiles() {
  std::lock_guard<std::mutex> lock(g_tempLock);
  return g_tempFiles;
}

void ClearTempOpenList() {
  std::lock_guard<std::mutex> lock(g_tempLock);
  g_tempFiles.clear();
}

bool CleanTempOpenFiles(UserPrompt& prompt) {
  std::size_t locked = 0;
  std::uint64_t lockedBytes = 0;
  {
    std::lock_guard<std::mutex> lock(g_tempLock);
    std::vector<TempOpenEntry> kept;
    for (TempOpenEntry& e : g_tempFiles) {
      if (!PathExists(e.path) || RemoveFile(e.path)) continue;
      ++locked;
      lockedBytes += e.size;
      kept.push_back(std::move(e));
    }
    g_tempFiles = std::move(kept);
  }
  if (locked > kMaxLockedTempFiles || lockedBytes > kMaxLockedTempBytes) {
    prompt.ShowMessage("请关闭刚才打开的临时文件，再打开新的文件！");
    return false;
  }
  return true;
}

// ---- report texts ----

std::string CompletionReportText(std::uint32_t files, std::uint64_t bytes) {
  if (bytes > 1288490188ull)  // 1.2 GiB
    return Format("恢复结束！本次恢复%u个文件，共计%.2f(GB)数据！", files, static_cast<double>(bytes >> 20) / 1024.0);
  if (bytes > 1258291ull)  // 1.2 MiB
    return Format("恢复结束！本次恢复%u个文件，共计%.2f(MB)数据！", files, static_cast<double>(bytes) / 1048576.0);
  if (bytes > 1228ull)  // 1.2 KiB
    return Format("恢复结束！本次恢复%u个文件，共计%u(KB)数据！", files, static_cast<unsigned>(bytes >> 10));
  return Format("恢复结束！本次恢复%u个文件，共计%u(B)数据！", files, static_cast<unsigned>(bytes));
}

std::string ReadErrorReportText(std::uint32_t failedReads, bool removable) {
  std::string text = Format("恢复文件时，发生了%u次读磁盘错误，导致部分文件恢复失败！", failedReads);
  if (removable)
    text += "\n可能是电脑、读卡器、USB线、USB口等设备接触不良。建议您更换电脑、读卡器、USB线，"
            "并将存储设备插在电脑机箱后面的USB口，再重新恢复您的数据！";
  return text;
}

namespace {

// At most 20 lines of a list, then the count of the rest.
std::string ListLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size() && i < 20; ++i) text += "\n" + lines[i];
  if (lines.size() > 20) text += Format("\n……（另有%zu个）", lines.size() - 20);
  return text;
}

}  // namespace

std::string DamagedFilesReportText(const std::vector<std::string>& damaged) {
  return Format("有%zu个文件已损坏，未能完整恢复：", damaged.size()) + ListLines(damaged);
}

std::string ShortenedNamesReportText(const std::vector<std::string>& shortened) {
  return Format("有%zu个名称过长，已缩短：", shortened.size()) + ListLines(shortened);
}

std::string FailedFilesReportText(std::size_t failedFiles) {
  return Format("有%zu个文件没有完整恢复（读取或写入失败）！", failedFiles);
}

}  // namespace ambrel
