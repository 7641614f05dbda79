#include "main_window.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <set>

#include "session/program.h"
#include "session/texts.h"
#include "deep_scan_run.h"
#include "deep_scan_settings.h"
#include "device_panel.h"
#include "progress_dialog.h"
#include "qt_text.h"
#include "recovery_modes.h"
#include "results_browser.h"
#include "scan_panel.h"
#include "window_state.h"

namespace ambrel::ui {

namespace {

QPushButton* MenuButton(QWidget* parent, const QString& title, const QString& line) {
  auto* b = new QPushButton(title + QStringLiteral("\n") + line, parent);
  b->setMinimumSize(220, 72);
  b->setCheckable(true);
  b->setAutoExclusive(true);
  return b;
}

}  // namespace

MainWindow::MainWindow(WordedPrompt& prompt, QWidget* parent)
    : QMainWindow(parent), prompt_(prompt), catalog_(std::make_unique<FoundFileCatalog>()) {
  catalog_->Reset(nullptr, false);
  catalog_->SetMainWindow(&windowNotices_);
  connect(&windowNotices_, &NoticeBridge::notice, this, &MainWindow::OnNotice);
  setWindowIcon(QIcon::fromTheme(QStringLiteral("ambrel")));
  resize(800, 600);
  setWindowTitle(Q(GetSetting("LocalName")));

  pages_ = new QStackedWidget(this);
  menu_ = SettingOn("NewMenu") ? BuildLongMenu() : BuildShortMenu();
  devices_ = new DevicePanel(prompt_, pages_);
  resultsPage_ = new QWidget(pages_);
  auto* results = new QVBoxLayout(resultsPage_);
  results->setContentsMargins(0, 0, 0, 0);
  scan_ = new ScanPanel(prompt_, resultsPage_);
  scan_->hide();
  browser_ = new ResultsBrowser(*catalog_, prompt_, resultsPage_);
  results->addWidget(scan_);
  results->addWidget(browser_, 1);
  pages_->addWidget(menu_);
  pages_->addWidget(devices_);
  pages_->addWidget(resultsPage_);
  setCentralWidget(pages_);
  BuildMenuBar();

  connect(devices_, &DevicePanel::backRequested, this, &MainWindow::ShowModeMenu);
  connect(devices_, &DevicePanel::startRequested, this, &MainWindow::StartRecovery);
  connect(devices_, &DevicePanel::settingsRequested, this, [this](const DeviceInfo& row) {
    PartitionInfo part;
    MakePartitionInfo(row, part);
    DeepScanSettingsDialog dialog(part, CurrentDeepScanOptions(), prompt_, this);
    if (dialog.exec() == QDialog::Accepted) StoreDeepScanOptions(dialog.options());
  });

  RestoreWindowState(*this, WindowStateFile());

  if (SettingOn("ShowDev")) SelectMode(6);
  else ShowModeMenu();
}

MainWindow::~MainWindow() {
  if (run_) run_->Finish(true);
  run_.reset();
  catalog_->SetMainWindow(nullptr);
  browser_->Clear();
  // The views unregister from the catalogue as they go, so they go first:
  // the catalogue is a member and would otherwise be destroyed before the
  // child widgets.
  delete pages_;
}

void MainWindow::BuildMenuBar() {
  QMenu* modes = menuBar()->addMenu(Q("恢复模式"));
  auto* group = new QActionGroup(this);
  group->setExclusive(true);
  for (const RecoveryMode& m : RecoveryModes()) {
    if (!SettingOn("NewMenu") && std::find(kShortMenuModes.begin(), kShortMenuModes.end(), m.number) ==
                                     kShortMenuModes.end())
      continue;
    const int number = m.number;
    QAction* action = modes->addAction(Q(m.title), this, [this, number] { SelectMode(number); });
    action->setCheckable(true);
    group->addAction(action);
    modeActions_[number] = action;
  }
  modes->addSeparator();
  modes->addAction(Q("返回主菜单"), this, &MainWindow::ShowModeMenu);
  QMenu* help = menuBar()->addMenu(Q("帮助"));
  help->addAction(Q("软件帮助"), this, [this] { OpenSettingLink("HelpSoft"); });
}

QWidget* MainWindow::BuildLongMenu() {
  auto* page = new QWidget(this);
  auto* grid = new QGridLayout(page);
  auto* caption = new QLabel(Q("请选择恢复模式"), page);
  grid->addWidget(caption, 0, 0, 1, 2, Qt::AlignHCenter);
  int cell = 0;
  for (const RecoveryMode& m : RecoveryModes()) {
    QPushButton* b = MenuButton(page, Q(m.title), Q(m.description));
    const int number = m.number;
    connect(b, &QPushButton::clicked, this, [this, number] { SelectMode(number); });
    modeButtons_[number] = b;
    grid->addWidget(b, 1 + cell / 2, cell % 2);
    ++cell;
  }
  QPushButton* android = MenuButton(page, Q("安卓手机恢复"), Q("恢复安卓手机中的数据"));
  QPushButton* iphone = MenuButton(page, Q("苹果手机恢复"), Q("恢复苹果手机中的数据"));
  // They open another program: no mode is chosen, so they take no mark.
  android->setCheckable(false);
  iphone->setCheckable(false);
  connect(android, &QPushButton::clicked, this, [this] { OpenSettingLink("Android"); });
  connect(iphone, &QPushButton::clicked, this, [this] { OpenSettingLink("Iphone"); });
  grid->addWidget(android, 1 + cell / 2, cell % 2);
  ++cell;
  grid->addWidget(iphone, 1 + cell / 2, cell % 2);
  return page;
}

QWidget* MainWindow::BuildShortMenu() {
  auto* page = new QWidget(this);
  auto* column = new QVBoxLayout(page);
  for (int number : kShortMenuModes) {
    const RecoveryMode* m = FindMode(number);
    QPushButton* b = MenuButton(page, Q(m->title), Q(m->description));
    connect(b, &QPushButton::clicked, this, [this, number] { SelectMode(number); });
    modeButtons_[number] = b;
    column->addWidget(b);
  }
  auto* help = new QPushButton(Q("软件帮助"), page);
  connect(help, &QPushButton::clicked, this, [this] { OpenSettingLink("HelpSoft"); });
  column->addWidget(help);
  column->addStretch(1);
  return page;
}

void MainWindow::OpenSettingLink(const char* key) {
  const std::string target = GetSetting(key);
  if (!target.empty()) OpenWithDesktop(target);
}

bool MainWindow::SelectMode(int mode) {
  const RecoveryMode* m = FindMode(mode);
  if (!m) return false;
  if (layoutState_ >= 2) {
    if (!prompt_.AskYesNo(kDiscardResultsQuestion)) {
      MarkMode(CurrentRecoveryMode());  // the click moved the mark: put it back
      return false;
    }
    DiscardResults();
  }
  SetCurrentRecoveryMode(mode);
  MarkMode(mode);
  LogLine(LogCode::kStartUp, m->logName);
  layoutState_ = 1;
  pages_->setCurrentWidget(devices_);
  devices_->Refresh();
  return true;
}

void MainWindow::MarkMode(int mode) {
  // Exclusive groups cannot clear every entry: a mode without an entry in
  // this menu (or none) drops the exclusivity for the moment.
  for (auto& [number, button] : modeButtons_) {
    button->setAutoExclusive(false);
    button->setChecked(number == mode);
    button->setAutoExclusive(true);
  }
  for (auto& [number, action] : modeActions_) {
    QActionGroup* group = action->actionGroup();
    if (group) group->setExclusive(false);
    action->setChecked(number == mode);
    if (group) group->setExclusive(true);
  }
}

int MainWindow::markedMode() const {
  // Exactly one mode, marked alike in the menu page and the menu bar.
  std::set<int> marked;
  int buttons = 0, actions = 0;
  for (const auto& [number, button] : modeButtons_)
    if (button->isChecked()) marked.insert(number), ++buttons;
  for (const auto& [number, action] : modeActions_)
    if (action->isChecked()) marked.insert(number), ++actions;
  return marked.size() == 1 && buttons <= 1 && actions <= 1 ? *marked.begin() : 0;
}

void MainWindow::DiscardResults() {
  if (run_) run_->Finish(false);
  run_.reset();
  scan_->Attach(static_cast<ScanJob*>(nullptr));
  browser_->Clear();
  catalog_->SetViewMode(ViewMode::kDirectory);
  catalog_->Reset(nullptr, false);
  browser_->Rebuild();
  layoutState_ = 1;
}

void MainWindow::ShowModeMenu() {
  layoutState_ = 0;
  pages_->setCurrentWidget(menu_);
}

void MainWindow::StartRecovery(const DeviceInfo& row) {
  if (ProgressDialog::IsOpen()) return;
  if (run_ && run_->Running()) return;
  run_.reset();
  browser_->Clear();
  catalog_->SetViewMode(ViewMode::kDirectory);
  catalog_->Reset(nullptr, false);
  layoutState_ = 1;
  // The source is opened once, here: its description, the scan and every
  // listing and copy read through that one device. Opening reads the
  // device, which the GUI thread never does itself.
  source_.reset();
  const DeviceLists lists = devices_->deviceLists();
  RunBehindProgress(this, [&](TaskStatus&) { source_ = SourceSession::OpenRow(row, &lists); });
  CopySession session;
  session.sourcePath = row.diskPath.empty() ? row.volumePath : row.diskPath;
  session.removableSource = row.removable != 0;
  session.imageSource = source_ && source_->IsImageFile();
  session.scanGate = [this] { return run_ ? run_->Gate() : ScanGateInput{}; };
  browser_->copyFlow().setSession(session);
  if (!source_) {
    prompt_.ShowMessage("没有找到可以解析的分区！");
    return;
  }
  if (!StartDeepScan(row)) ParseWithoutScan();
}

bool MainWindow::StartDeepScan(const DeviceInfo& row) {
  // A volume row scans that volume; a disk or image its whole device (an
  // image that is one volume from its first sector scans as that volume,
  // whose free space modes 2 and 5 read).
  std::optional<PartitionInfo> area = source_->ScanArea(row.kind == 1 ? 1 : 0);
  if (!area) return false;
  PartitionInfo part = std::move(*area);
  if (!row.displayName.empty()) part.displayName = row.displayName;
  if (part.sectorCount == 0 || part.diskPath.empty()) return false;
  // The menu's mode number (none chosen: the whole device).
  const ::ambrel::RecoveryMode mode = ModeFromNumber(CurrentRecoveryMode());
  DeepScanSettings settings = SettingsFromOptions(part, mode);
  run_ = std::make_unique<DeepScanRun>(std::move(part), mode, settings, &windowNotices_, &prompt_,
                                       catalog_.get(), devices_->deviceLists());
  scan_->Attach(&run_->job());
  if (!run_->Start()) {
    scan_->Attach(static_cast<ScanJob*>(nullptr));
    run_.reset();
    return false;
  }
  ShowResultsLayout(2);
  return true;
}

void MainWindow::ParseWithoutScan() {
  std::size_t before = catalog_->partitionCount();
  std::vector<std::pair<int, VolumeListing>> problems;
  RunBehindProgress(this, [&](TaskStatus& status) {
    problems = source_->ListInto(*catalog_, 0, ListScope::kAll, &status, {}, true);
  });
  // Metadata that could not be read is named: the listing lacks its files.
  std::vector<std::string> unread;
  for (const auto& [number, listing] : problems)
    for (const std::string& line : UnreadMetadataTexts(listing.unread, listing.unreadDropped))
      unread.push_back(std::to_string(number) + ": " + line);
  if (!unread.empty()) prompt_.ShowMessage(UnreadMetadataReportText(unread));
  // FAT copies that disagree and boot fields a checker rejects: the files
  // were read from what fits best, and the user is told once per volume.
  std::vector<std::string> fatLines;
  for (const auto& [number, listing] : problems)
    for (const std::string& line : {FatBootWarningText(listing.fatBoot), FatCopiesWarningText(listing.fatCopies)})
      if (!line.empty()) fatLines.push_back(std::to_string(number) + ": " + line);
  if (!fatLines.empty()) prompt_.ShowMessage(FatWarningsReportText(fatLines));
  if (catalog_->partitionCount() == before) {
    prompt_.ShowMessage("没有找到可以解析的分区！");
    return;
  }
  ShowResultsLayout(3);
}

void MainWindow::ShowResultsLayout(int state) {
  if (layoutState_ >= state) return;
  layoutState_ = state;
  scan_->setVisible(state == 2);
  pages_->setCurrentWidget(resultsPage_);
  browser_->Rebuild();
}

void MainWindow::OnNotice(quint32 message, quint64, quint64) {
  switch (message) {
    case kNoticeFirstResult: ShowResultsLayout(2); break;
    case kNoticeOrganiseBegin: browser_->setActionsEnabled(false); break;
    case kNoticeOrganiseEnd:
      // The analysing thread waits in this notice: its results are whole.
      if (run_) catalog_->LoadResults(run_->TakeResults(), nullptr);
      ShowResultsLayout(3);
      browser_->Rebuild();
      browser_->setActionsEnabled(true);
      break;
    default: break;
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (ProgressDialog::IsOpen()) {
    event->ignore();
    return;
  }
  if (run_ && run_->Running() && scan_->isVisible() && scan_->AskKeepScanning()) {
    event->ignore();
    return;
  }
  if (run_) run_->Finish(true);
  SaveWindowState(*this, WindowStateFile());
  event->accept();
}

}  // namespace ambrel::ui
