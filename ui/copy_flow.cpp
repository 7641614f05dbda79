#include "copy_flow.h"

#include "gui_prompt.h"
#include "progress_dialog.h"
#include "recovery/catalog_rows.h"
#include "save_dialog.h"

namespace ambrel::ui {

namespace {

// The run's stop request comes from the dialog's status word.
class StopRelay final : public SaveProgressView {
 public:
  explicit StopRelay(TaskStatus& status) : status_(status) {}
  void Poll(SaveJob& job) override {
    if (status_.load() == 2) job.state = kJobStopRequested;
  }

 private:
  TaskStatus& status_;
};

}  // namespace

SaveContext CopyFlow::ContextFor(UserPrompt& prompt) const {
  SaveContext c;
  c.prompt = &prompt;
  c.scan = session_.Gate();
  c.sourcePath = session_.sourcePath;
  c.removableSource = session_.removableSource;
  return c;
}

template <typename Run>
void CopyFlow::RunAndReport(Run run) {
  DeferredPrompt deferred(prompt_);
  CatalogRows rows(catalog_);
  const bool ran = RunBehindProgress(window_, [&](TaskStatus& status) {
    StopRelay relay(status);
    SaveContext context = ContextFor(deferred);
    context.source = &rows;
    context.view = &relay;
    run(context);
  });
  (void)ran;
  for (const std::string& message : deferred.TakeMessages()) prompt_.ShowMessage(message);
}

void CopyFlow::RecoverChecked() {
  if (!CheckScanGate("恢复", session_.Gate(), prompt_)) return;
  const SelectionTotal total = catalog_.SumSelected();
  if (total.files == 0) {
    prompt_.ShowMessage("请至少选择一个需要恢复的文件或目录!");
    return;
  }
  SaveDialog dialog(total.files, total.bytes, session_.sourcePath, prompt_, window_);
  if (dialog.exec() != QDialog::Accepted) return;
  const SaveParameters parameters = dialog.parameters();
  RunAndReport([&](const SaveContext& context) {
    ambrel::RecoverChecked(context, parameters, total.files, total.bytes);
  });
}

void CopyFlow::QuickSave(std::uint32_t row, std::uint32_t id) {
  const std::optional<FoundFileNode> node = catalog_.GetNode(row, id);
  if (!node) return;
  SelectionTotal total;
  total.files = IsFolderKind(KindOf(*node)) ? node->fileCount : 1;
  total.bytes = node->size;
  SaveDialog dialog(total.files, total.bytes, session_.sourcePath, prompt_, window_);
  if (dialog.exec() != QDialog::Accepted) return;
  const SaveParameters parameters = dialog.parameters();
  RunAndReport([&](const SaveContext& context) { ambrel::QuickSave(context, parameters, row, id); });
}

bool CopyFlow::QuickOpen(std::uint32_t row, std::uint32_t id) {
  if (!CheckScanGate("打开", session_.Gate(), prompt_)) return false;
  bool opened = false;
  RunAndReport([&](const SaveContext& context) { opened = ambrel::QuickOpen(context, row, id); });
  return opened;
}

}  // namespace ambrel::ui
