// The modal progress dialog "处理信息" of short tasks (enumeration, parsing,
// copying): shows what the worker publishes through the progress mailbox,
// offers a stop button, and closes itself once the worker has ended.
//
// The task's status word is 0 while it runs, 2 when a stop was requested or
// it failed, 3 when it finished. At most one dialog exists at a time.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "session/program.h"

namespace ambrel::ui {

using TaskStatus = std::atomic<std::uint32_t>;

class ProgressDialog final : public QDialog {
  Q_OBJECT
 public:
  // Null when a progress dialog already exists; otherwise the dialog, with
  // the mailbox emptied. `workerEnded` tells when the worker has returned.
  static std::unique_ptr<ProgressDialog> Open(QWidget* parent, TaskStatus* status,
                                              std::function<bool()> workerEnded,
                                              std::shared_ptr<ProgressMailbox> mailbox = nullptr);
  ~ProgressDialog() override;
  static bool IsOpen();

  // One timer tick (public for tests).
  void Tick();
  void Show(const ScanProgress& record);
  QString titleText() const { return title_->text(); }
  QString lineText(int i) const { return lines_.at(std::size_t(i))->text(); }
  bool barVisible() const { return !bar_->isHidden(); }
  int barValue() const { return bar_->value(); }
  QPushButton* stopButton() const { return stop_; }

 protected:
  void reject() override;  // Esc and the close box ask the worker to stop

 private:
  ProgressDialog(QWidget* parent, TaskStatus* status, std::function<bool()> workerEnded,
                 std::shared_ptr<ProgressMailbox> mailbox);
  void RequestStop();

  TaskStatus* status_;
  std::function<bool()> workerEnded_;
  std::shared_ptr<ProgressMailbox> mailbox_;  // the task's records
  std::uint32_t lastStage_ = 0;
  bool closing_ = false;
  QTimer timer_;
  QLabel* title_;
  std::array<QLabel*, 4> lines_{};
  QProgressBar* bar_;
  QPushButton* stop_;
};

// Runs `work` on a worker thread behind the dialog and waits (in the
// dialog's event loop, so that the worker's notices and questions are
// served). The status is set to 3 when the work returns with it still 0.
// False at once, without running anything, when a dialog is already open;
// otherwise whether the status ended as 3.
// The worker publishes into `mailbox` (a fresh one when null), bound on
// its thread; a task that hands the records on to threads of its own
// passes it to them.
bool RunBehindProgress(QWidget* parent, const std::function<void(TaskStatus&)>& work,
                       std::shared_ptr<ProgressMailbox> mailbox = nullptr);

}  // namespace ambrel::ui
