// The copying threads, their start, the summary line and the statistics.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ctime>
#include <thread>

#include "app/settings.h"
#include "common/text.h"
#include "diag/log.h"
#include "diag/threads.h"
#include "platform/local_time.h"
#include "recovery/copy_out.h"
#include "recovery/file_plan.h"
#include "recovery/safe_name.h"
#include "recovery/save_item.h"

namespace ambrel {

namespace {


}  // namespace

ReadableSizes::ReadableSizes(SourceOpener opener) : opener_(std::move(opener)) {}

std::uint64_t ReadableSizes::Of(const FoundFileNode& node, const PartitionInfo& partition) {
  auto it = lastLba_.find(&partition);
  if (it == lastLba_.end()) it = lastLba_.emplace(&partition, SourceLastLba(opener_, partition)).first;
  return PlanFileData(node, partition, 0, it->second).readable;
}

void CountItem(const SaveSource& source, ReadableSizes& sizes, std::uint32_t row, std::uint32_t id,
               bool onlyChecked, SaveTotals& t, int depth) {
  SaveNode node;
  if (depth > 1024 || !source.Resolve(row, id, node)) return;
  const unsigned state = CheckStateOf(node.record);
  if (onlyChecked && state != 1 && state != 2) return;
  if (IsFileKind(KindOf(node.record))) {
    if (source.FilterView() && !(node.record.flags & kFlagFilterHit)) return;
    ++t.files;
    t.bytes += node.partition ? sizes.Of(node.record, *node.partition) : 0;
    return;
  }
  for (std::uint32_t child : source.Children(row, id))
    CountItem(source, sizes, row, child, onlyChecked, t, depth + 1);
}

namespace {

void AddTotals(ScanProgress& progress, const SaveTotals& t) {
  progress.u.copy.totalFiles += static_cast<std::uint32_t>(t.files);
  progress.u.copy.totalBytes += t.bytes;
}

// The marked top-level items of a row: children of its root with check
// state 1 or 2.
std::vector<std::uint32_t> MarkedTopItems(const SaveSource& source, std::uint32_t row) {
  std::vector<std::uint32_t> items;
  for (std::uint32_t id : source.Children(row, kRootId)) {
    SaveNode node;
    if (!source.Resolve(row, id, node)) continue;
    const unsigned state = CheckStateOf(node.record);
    if (state == 1 || state == 2) items.push_back(id);
  }
  return items;
}

std::string NowText() {
  CivilTime t;
  if (!UtcSecondsToLocal(static_cast<std::int64_t>(std::time(nullptr)), t)) return "-";
  return Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

void WriteSummaryLine(const ScanProgress& p) {
  LogLine(LogCode::kCopy, Format("%s copy data(MB): %u / %u     ", NowText().c_str(),
                    static_cast<unsigned>(p.u.copy.bytesCopied >> 20),
                    static_cast<unsigned>(p.u.copy.totalBytes >> 20)) +
                 Format("File num: %u / %u", static_cast<unsigned>(p.u.copy.filesCopied),
                        p.u.copy.totalFiles));
}

// Adds the run to the session's figures and ends the job.
void FinishRun(SaveJob& job, const ScanProgress& progress, bool zeroWhenNothing) {
  CloseJobSources(job);
  job.bytesWritten = progress.u.copy.bytesCopied;
  WriteSummaryLine(progress);
  job.Ledger().CountRun(job.bytesWritten, job.filesWritten,
                        zeroWhenNothing && progress.u.copy.filesCopied == 0);

  std::uint32_t running = kJobRunning;
  job.state.compare_exchange_strong(running, kJobFinished);
}

ScanProgress CopyProgress() {
  ScanProgress p;
  p.stage = kStageCopy;
  return p;
}

}  // namespace

std::string ResolveSaveFolder(const std::string& chosen) {
  std::string folder = chosen;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string saveDir = GetSetting("SaveDir");
  const auto slash = folder.find_last_of('/');
  const bool hasLast = slash != std::string::npos && slash != 0 && slash + 1 != folder.size();
  const std::string last = hasLast ? folder.substr(slash + 1) : std::string();
  if (!saveDir.empty() && last != saveDir) {
    folder = (folder == "/" ? "" : folder) + "/" + SafeComponent(saveDir);
    if (!EnsureDirectory(folder)) return std::string();
  }
  return folder;
}

void SaveAllToDirThread(SaveJob* job) {
  ThreadBegin("SaveAllToDirThread");
  const SaveSource& source = *job->source;
  ReadableSizes sizes(job->opener);
  ScanProgress progress = CopyProgress();
  std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> work;
  for (std::uint32_t row : source.Rows()) {
    auto items = MarkedTopItems(source, row);
    if (items.empty()) continue;
    SaveTotals t;
    for (std::uint32_t id : items) CountItem(source, sizes, row, id, true, t, 0);
    AddTotals(progress, t);
    work.emplace_back(row, std::move(items));
  }
  job->outputFolder = ResolveSaveFolder(job->target);
  if (!job->outputFolder.empty()) job->Ledger().SetOutputFolder(job->outputFolder);
  for (const auto& [row, items] : work) {
    if (job->outputFolder.empty()) break;
    std::string folder = job->outputFolder;
    SaveNode root;
    if (source.Resolve(row, kRootId, root)) {
      folder.append(1, '/').append(SafeComponent(source.Label(row)));
      if (!EnsureDirectory(folder, job)) {
        job->failedFiles.push_back(folder);
        continue;
      }
    }
    for (std::uint32_t id : items) SaveItem(*job, progress, SaveTarget{folder, row, id, 0}, true);
  }
  if (job->outputFolder.empty()) job->failedFiles.push_back(job->target);
  FinishRun(*job, progress, false);
  ThreadEnd("SaveAllToDirThread");
}

void SaveCurrFileThread(SaveJob* job) {
  ThreadBegin("SaveCurrFileThread");
  ScanProgress progress = CopyProgress();
  SaveTotals t;
  ReadableSizes sizes(job->opener);
  CountItem(*job->source, sizes, job->row, job->nodeId, false, t, 0);
  AddTotals(progress, t);
  job->outputFolder = ResolveSaveFolder(job->target);
  if (!job->outputFolder.empty()) job->Ledger().SetOutputFolder(job->outputFolder);
  if (job->outputFolder.empty())
    job->failedFiles.push_back(job->target);
  else
    SaveItem(*job, progress, SaveTarget{job->outputFolder, job->row, job->nodeId, 0}, false);
  FinishRun(*job, progress, true);
  ThreadEnd("SaveCurrFileThread");
}

void QuickOpenFileThread(SaveJob* job) {
  ThreadBegin("QuickOpenFileThread");
  ScanProgress progress = CopyProgress();
  SaveTotals t;
  ReadableSizes sizes(job->opener);
  CountItem(*job->source, sizes, job->row, job->nodeId, false, t, 0);
  AddTotals(progress, t);
  job->outputFolder = ParentPath(job->target);
  SaveNode node;
  if (job->source->Resolve(job->row, job->nodeId, node)) {
    SetCurrentFile(progress, node.name, node.record.size);
    if (SaveFile(*job, progress, job->row, job->nodeId, job->target)) ++job->filesWritten;
    ++progress.u.copy.filesCopied;
  }
  FinishRun(*job, progress, false);
  ThreadEnd("QuickOpenFileThread");
}

bool StartSaveJob(SaveJob& job, SaveThreadFn thread, SaveProgressView* view) {
  if (!job.Ledger().BeginRun()) return false;
  job.progress.Clear();
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::thread worker([&] {
    {
      ProgressBinding binding(&job.progress);
      ReadCountBinding counted(&job.Ledger().Reads());
      thread(&job);
    }
    std::lock_guard<std::mutex> hold(lock);
    done = true;
    finished.notify_one();
  });
  // The view is polled every 100 ms; the end of the run wakes the wait at
  // once rather than at the next tick.
  {
    std::unique_lock<std::mutex> hold(lock);
    for (int tick = 0; !done; ++tick) {
      if (view != nullptr && tick % 10 == 0) {
        hold.unlock();
        view->Poll(job);
        hold.lock();
      }
      finished.wait_for(hold, std::chrono::milliseconds(10), [&] { return done; });
    }
  }
  worker.join();
  if (view != nullptr) view->Poll(job);
  job.Ledger().EndRun();
  return job.state.load() == kJobFinished;
}

}  // namespace ambrel
