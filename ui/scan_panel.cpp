#include "scan_panel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "progress_dialog.h"
#include "progress_texts.h"
#include "session/texts.h"
#include "qt_text.h"

namespace ambrel::ui {

namespace {
constexpr int kTickMs = 200;
}

ScanPanel::ScanPanel(WordedPrompt& prompt, QWidget* parent) : QWidget(parent), prompt_(prompt) {
  auto* layout = new QVBoxLayout(this);
  first_ = new QLabel(this);
  second_ = new QLabel(this);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  layout->addWidget(first_);
  layout->addWidget(second_);
  layout->addWidget(bar_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  save_ = new QPushButton(Q("保存扫描数据"), this);
  pause_ = new QPushButton(Q("暂停扫描"), this);
  stop_ = new QPushButton(Q("停止扫描"), this);
  buttons->addWidget(save_);
  buttons->addWidget(pause_);
  buttons->addWidget(stop_);
  layout->addLayout(buttons);
  connect(pause_, &QPushButton::clicked, this, &ScanPanel::TogglePause);
  connect(stop_, &QPushButton::clicked, this, [this] { AskKeepScanning(); });
  connect(save_, &QPushButton::clicked, this, &ScanPanel::SaveScanState);
  connect(&timer_, &QTimer::timeout, this, &ScanPanel::Tick);
  timer_.start(kTickMs);
}

void ScanPanel::Attach(std::atomic<std::uint32_t>* scanState) {
  state_ = scanState;
  session_ = nullptr;
  Reset();
}

void ScanPanel::Attach(ScanJob* session) {
  state_ = nullptr;
  session_ = session;
  Reset();
}

void ScanPanel::Reset() {
  paused_ = false;
  stopping_ = false;
  lastStage_ = 0;
  haveBaseline_ = false;
  baseline_ = 0;
  previousRemaining_ = 0;
  pause_->setEnabled(true);
  stop_->setEnabled(true);
  save_->setEnabled(session_ != nullptr);
  pausedTotal_ = {};
  pause_->setText(Q("暂停扫描"));
  first_->clear();
  second_->clear();
  bar_->setValue(0);
}

void ScanPanel::Tick() {
  if (frozen_ || !session_) return;
  ScanProgress record;
  if (session_->TakeProgress(record)) {
    lastStage_ = record.stage;
  } else {
    // Nothing new (a slow or stalled device): the clock still runs, so the
    // scan's own figures are shown again with the time that passed.
    const bool scanningShown = lastStage_ == 0 || lastStage_ == kStageDeepScan || lastStage_ == kStageMtsScan;
    if (!scanningShown || !session_->Running()) return;
    record = session_->Progress();
  }
  const bool scanning = record.stage == kStageDeepScan || record.stage == kStageMtsScan;
  QString timing;
  if (scanning && record.u.scan.totalSectors != 0) {
    if (!haveBaseline_) {
      haveBaseline_ = true;
      baseline_ = record.u.scan.doneSectors;
    }
    const std::int64_t elapsed = session_->ElapsedSeconds();
    timing = Q(FormatProgress(record.u.scan.doneSectors, record.u.scan.totalSectors,
                              elapsed > 0 ? std::uint64_t(elapsed) : 0, baseline_, previousRemaining_));
  }
  if (!session_->Running() && !stopping_) {
    // The scan ended by itself: nothing left to pause or stop.
    pause_->setEnabled(false);
    stop_->setEnabled(false);
  }
  Show(record, timing);
}

void ScanPanel::Show(const ScanProgress& record, const QString& timing) {
  const ProgressLines shown = PanelLines(record, timing);
  if (!shown.shown) return;
  // A stopped scan's last reading records still arrive: the panel keeps
  // saying that it stops, and shows the figures below.
  const bool scanning = record.stage == kStageDeepScan || record.stage == kStageMtsScan;
  const QString title = stopping_ && scanning ? Q(kStoppingScanText) : shown.title;
  if (first_->text() != title) first_->setText(title);
  second_->setText(shown.lines.isEmpty() ? QString() : shown.lines.front());
  if (shown.barPercent >= 0) bar_->setValue(shown.barPercent);
}

void ScanPanel::TogglePause() {
  if (stopping_) return;
  if (!paused_) {
    paused_ = true;
    pauseStart_ = Clock::now();
    if (session_) session_->Pause();
    if (state_) {
      std::uint32_t running = 0;
      state_->compare_exchange_strong(running, 1);
    }
    pause_->setText(Q("继续扫描"));
    return;
  }
  paused_ = false;
  pausedTotal_ += Clock::now() - pauseStart_;
  if (session_) session_->Resume();
  if (state_) {
    std::uint32_t pausedWord = 1;
    state_->compare_exchange_strong(pausedWord, 0);
  }
  pause_->setText(Q("暂停扫描"));
}

bool ScanPanel::AskKeepScanning() {
  if (stopping_) return false;
  if (prompt_.AskYesNo(kKeepScanningQuestion)) return true;
  stopping_ = true;
  pause_->setEnabled(false);
  stop_->setEnabled(false);
  save_->setEnabled(false);
  first_->setText(Q(kStoppingScanText));
  if (session_ && session_->Running()) session_->Stop();
  if (state_) {
    std::uint32_t word = state_->load();
    // A finished scan stays finished; running or paused becomes a stop.
    while (word != 3 && !state_->compare_exchange_weak(word, 2)) {
    }
  }
  return false;
}

void ScanPanel::SaveScanState() {
  if (!session_ || stopping_) return;
  // Writing every hit of a long scan takes a while: behind the modal
  // progress dialog, which the outcome message follows.
  ScanJob* job = session_;
  RunBehindProgress(this, [job](TaskStatus&) { job->SaveOnDemand(); });
}

double ScanPanel::pausedSeconds() const {
  Clock::duration total = pausedTotal_;
  if (paused_) total += Clock::now() - pauseStart_;
  return std::chrono::duration<double>(total).count();
}

}  // namespace ambrel::ui
