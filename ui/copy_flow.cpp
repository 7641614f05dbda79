#include "copy_flow.h"

#include "gui_prompt.h"
#include "progress_dialog.h"
#include "save_dialog.h"
#include "session/texts.h"

namespace ambrel::ui {

namespace {

// The run's stop request comes from the dialog's status word; its progress
// records go on to the dialog's mailbox, bound on this (the worker's)
// thread.
class StopRelay final : public SaveProgressView {
 public:
  explicit StopRelay(TaskStatus& status) : status_(status) {}
  void Poll(SaveJob& job) override {
    if (status_.load() == 2) job.state = kJobStopRequested;
    ScanProgress record;
    if (job.progress.Take(record)) PublishProgress(record);
  }

 private:
  TaskStatus& status_;
};

}  // namespace

bool CopyFlow::ShowRefusal(CopyRefusal refusal, const std::string& verb) {
  if (refusal == CopyRefusal::kNone) return false;
  prompt_.ShowMessage(CopyRefusalText(refusal, verb));
  return true;
}

void CopyFlow::RunAndReport(const std::string& verb, bool report,
                            const std::function<SaveRunResult(CopyRequest&)>& run) {
  DeferredPrompt deferred(prompt_);
  SaveRunResult result;
  RunBehindProgress(window_, [&](TaskStatus& status) {
    StopRelay relay(status);
    CopyRequest request;
    request.prompt = &deferred;
    request.view = &relay;
    request.scan = session_.Gate();
    request.sourcePath = GuardedSource();
    request.removableSource = session_.removableSource;
    result = run(request);
  });
  for (const std::string& message : deferred.TakeMessages()) prompt_.ShowMessage(message);
  if (report) {
    for (const std::string& text : CopyReportTexts(result, verb)) prompt_.ShowMessage(text);
  } else {
    ShowRefusal(result.refusal == CopyRefusal::kStopped ? CopyRefusal::kNone : result.refusal, verb);
  }
}

void CopyFlow::RecoverChecked() {
  if (ShowRefusal(CheckScanGate(session_.Gate()), "恢复")) return;
  const SelectionTotal total = catalog_.SumSelected();
  if (total.files == 0) {
    ShowRefusal(CopyRefusal::kNothingChosen, "恢复");
    return;
  }
  SaveDialog dialog(total.files, total.bytes, GuardedSource(), prompt_, window_);
  if (dialog.exec() != QDialog::Accepted) return;
  const SaveParameters parameters = dialog.parameters();
  RunAndReport("恢复", true, [&](CopyRequest& request) {
    request.parameters = parameters;
    return copies_.CopyChecked(catalog_, request);
  });
}

void CopyFlow::QuickSave(std::uint32_t row, std::uint32_t id) {
  const std::optional<FoundFileNode> node = catalog_.GetNode(row, id);
  if (!node) return;
  SelectionTotal total;
  total.files = IsFolderKind(KindOf(*node)) ? node->fileCount : 1;
  total.bytes = node->size;
  SaveDialog dialog(total.files, total.bytes, GuardedSource(), prompt_, window_);
  if (dialog.exec() != QDialog::Accepted) return;
  const SaveParameters parameters = dialog.parameters();
  RunAndReport("恢复", true, [&](CopyRequest& request) {
    request.parameters = parameters;
    return copies_.CopyOne(catalog_, row, id, request);
  });
}

bool CopyFlow::QuickOpen(std::uint32_t row, std::uint32_t id) {
  if (ShowRefusal(CheckScanGate(session_.Gate()), "打开")) return false;
  bool opened = false;
  RunAndReport("打开", false, [&](CopyRequest& request) {
    SaveRunResult r = copies_.Open(catalog_, row, id, request);
    opened = r.opened;
    return r;
  });
  return opened;
}

}  // namespace ambrel::ui
