#include "progress_dialog.h"

#include <QVBoxLayout>
#include <thread>

#include "progress_texts.h"
#include "qt_text.h"

namespace ambrel::ui {

namespace {
ProgressDialog* g_openDialog = nullptr;
constexpr int kTickMs = 100;
constexpr int kCloseDelayMs = 200;
}  // namespace

std::unique_ptr<ProgressDialog> ProgressDialog::Open(QWidget* parent, TaskStatus* status,
                                                     std::function<bool()> workerEnded,
                                                     std::shared_ptr<ProgressMailbox> mailbox) {
  if (g_openDialog) return nullptr;
  if (!mailbox) mailbox = std::make_shared<ProgressMailbox>();
  mailbox->Clear();
  return std::unique_ptr<ProgressDialog>(
      new ProgressDialog(parent, status, std::move(workerEnded), std::move(mailbox)));
}

bool ProgressDialog::IsOpen() { return g_openDialog != nullptr; }

ProgressDialog::ProgressDialog(QWidget* parent, TaskStatus* status, std::function<bool()> workerEnded,
                               std::shared_ptr<ProgressMailbox> mailbox)
    : QDialog(parent), status_(status), workerEnded_(std::move(workerEnded)), mailbox_(std::move(mailbox)) {
  g_openDialog = this;
  setWindowTitle(Q("处理信息"));
  setModal(true);
  setMinimumWidth(520);
  auto* layout = new QVBoxLayout(this);
  title_ = new QLabel(this);
  layout->addWidget(title_);
  for (QLabel*& line : lines_) {
    line = new QLabel(this);
    layout->addWidget(line);
  }
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  bar_->hide();
  layout->addWidget(bar_);
  stop_ = new QPushButton(Q("停止"), this);
  layout->addWidget(stop_, 0, Qt::AlignRight);
  connect(stop_, &QPushButton::clicked, this, &ProgressDialog::RequestStop);
  connect(&timer_, &QTimer::timeout, this, &ProgressDialog::Tick);
  timer_.start(kTickMs);
}

ProgressDialog::~ProgressDialog() {
  if (g_openDialog == this) g_openDialog = nullptr;
}

void ProgressDialog::RequestStop() {
  std::uint32_t running = 0;
  if (status_) status_->compare_exchange_strong(running, 2);
  stop_->setEnabled(false);
}

void ProgressDialog::reject() { RequestStop(); }

void ProgressDialog::Tick() {
  if (closing_) return;
  const std::uint32_t state = status_ ? status_->load() : 3;
  // The dialog stays until the worker itself has returned, so that nothing
  // new starts while it still runs.
  if ((state == 2 || state == 3) && (!workerEnded_ || workerEnded_())) {
    closing_ = true;
    timer_.stop();
    QTimer::singleShot(kCloseDelayMs, this, [this] { done(QDialog::Accepted); });
    return;
  }
  ScanProgress record;
  if (!mailbox_->Take(record)) return;
  Show(record);
}

void ProgressDialog::Show(const ScanProgress& record) {
  const ProgressLines shown = DialogLines(record);
  if (!shown.shown) return;
  if (record.stage != lastStage_) {
    lastStage_ = record.stage;
    for (QLabel* line : lines_) line->clear();
    bar_->setVisible(shown.showBar);
  }
  title_->setText(shown.title);
  for (std::size_t i = 0; i < lines_.size(); ++i)
    lines_[i]->setText(i < std::size_t(shown.lines.size()) ? shown.lines[qsizetype(i)] : QString());
  if (shown.barPercent >= 0) bar_->setValue(shown.barPercent);
}

bool RunBehindProgress(QWidget* parent, const std::function<void(TaskStatus&)>& work,
                       std::shared_ptr<ProgressMailbox> mailbox) {
  TaskStatus status{0};
  std::atomic<bool> ended{false};
  if (!mailbox) mailbox = std::make_shared<ProgressMailbox>();
  auto dialog = ProgressDialog::Open(parent, &status, [&ended] { return ended.load(); }, mailbox);
  if (!dialog) return false;
  std::thread worker([&] {
    ProgressBinding binding(mailbox.get());
    work(status);
    std::uint32_t running = 0;
    status.compare_exchange_strong(running, 3);
    ended = true;
  });
  dialog->exec();
  worker.join();  // the dialog closes only after the work returned
  return status.load() == 3;
}

}  // namespace ambrel::ui
