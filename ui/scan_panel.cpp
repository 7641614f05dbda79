#include "scan_panel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "progress_texts.h"
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
  pause_ = new QPushButton(Q("暂停扫描"), this);
  stop_ = new QPushButton(Q("停止扫描"), this);
  buttons->addWidget(pause_);
  buttons->addWidget(stop_);
  layout->addLayout(buttons);
  connect(pause_, &QPushButton::clicked, this, &ScanPanel::TogglePause);
  connect(stop_, &QPushButton::clicked, this, [this] { AskKeepScanning(); });
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
  pausedTotal_ = {};
  pause_->setText(Q("暂停扫描"));
  first_->clear();
  second_->clear();
  bar_->setValue(0);
}

void ScanPanel::Tick() {
  if (frozen_) return;
  ScanProgress record;
  if (session_ && session_->TakeProgress(record)) Show(record);
}

void ScanPanel::Show(const ScanProgress& record) {
  const ProgressLines shown = PanelLines(record);
  if (!shown.shown) return;
  if (first_->text() != shown.title) first_->setText(shown.title);
  second_->setText(shown.lines.isEmpty() ? QString() : shown.lines.front());
  if (shown.barPercent >= 0) bar_->setValue(shown.barPercent);
}

void ScanPanel::TogglePause() {
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
  if (prompt_.AskYesNo(kKeepScanningQuestion)) return true;
  if (session_ && session_->Running()) session_->Stop();
  if (state_) {
    std::uint32_t word = state_->load();
    // A finished scan stays finished; running or paused becomes a stop.
    while (word != 3 && !state_->compare_exchange_weak(word, 2)) {
    }
  }
  return false;
}

double ScanPanel::pausedSeconds() const {
  Clock::duration total = pausedTotal_;
  if (paused_) total += Clock::now() - pauseStart_;
  return std::chrono::duration<double>(total).count();
}

}  // namespace ambrel::ui
