// The scan progress panel: what the deep scan is doing (two lines and a
// bar from the progress mailbox, every 200 ms), pause / resume and stop,
// over the scan's 32-bit state word (0 running, 1 paused, 2 stop requested,
// 3 finished).
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "session/worded_prompt.h"
#include "session/scan_job.h"

namespace ambrel::ui {

inline constexpr char kKeepScanningQuestion[] =
    "正在扫描丢失的数据，强烈建议您再等几分钟看看扫描情况！是否再等几分钟？";

class ScanPanel final : public QWidget {
  Q_OBJECT
 public:
  ScanPanel(WordedPrompt& prompt, QWidget* parent = nullptr);
  // Follows the scan whose state word this is (null: none).
  void Attach(std::atomic<std::uint32_t>* scanState);
  // Follows a deep scan: its progress records, and pause, resume and stop
  // through the job, which also keeps the paused time out of its
  // statistics.
  void Attach(ScanJob* job);
  // A new scan: "暂停扫描", both lines cleared, the bar at 0.
  void Reset();
  void setFrozen(bool frozen) { frozen_ = frozen; }
  void Tick();
  // `timing` is the elapsed / remaining / speed text of a scanning record.
  void Show(const ScanProgress& record, const QString& timing = {});
  void TogglePause();
  // Asks whether to keep scanning; on No requests the stop. True when the
  // scan goes on. Once a stop was requested it does not ask again.
  bool AskKeepScanning();
  // Saves the scan state now (the scan pauses while the file is written).
  void SaveScanState();
  // The stop was requested: the panel says so and its buttons are off.
  bool stopping() const { return stopping_; }
  // Seconds spent paused so far (kept out of the elapsed time).
  double pausedSeconds() const;

  QString firstLine() const { return first_->text(); }
  QString secondLine() const { return second_->text(); }
  QString pauseText() const { return pause_->text(); }
  QPushButton* pauseButton() const { return pause_; }
  QPushButton* stopButton() const { return stop_; }
  QPushButton* saveButton() const { return save_; }
  int barValue() const { return bar_->value(); }

 private:
  using Clock = std::chrono::steady_clock;
  WordedPrompt& prompt_;
  std::atomic<std::uint32_t>* state_ = nullptr;
  ScanJob* session_ = nullptr;
  bool frozen_ = false;
  bool paused_ = false;
  bool stopping_ = false;
  // The timing figures: sectors done at the first record of this scan
  // (work done before, e.g. a reused scan state, does not count towards
  // the speed) and the last remaining-time estimate.
  std::uint32_t lastStage_ = 0;  // of the last record taken from the mailbox
  bool haveBaseline_ = false;
  std::uint64_t baseline_ = 0;
  std::uint64_t previousRemaining_ = 0;
  Clock::time_point pauseStart_{};
  Clock::duration pausedTotal_{};
  QTimer timer_;
  QLabel* first_;
  QLabel* second_;
  QProgressBar* bar_;
  QPushButton* pause_;
  QPushButton* stop_;
  QPushButton* save_;
};

// The text shown while a stopped scan winds down.
inline constexpr char kStoppingScanText[] = "正在停止扫描，请稍候！";

}  // namespace ambrel::ui
