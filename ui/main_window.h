// The main window: the mode menus, the device selection, the scan progress
// panel and the results browser, shown in turn; it owns the session's
// found-file catalogue and handles the window's own notices (1128 first
// result, 0x466 / 0x467 around the organisation of a deep scan's results).
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QMainWindow>
#include <map>
#include <QStackedWidget>
#include <memory>

#include "session/worded_prompt.h"
#include "catalog/found_file_catalog.h"
#include "session/source_session.h"
#include "notice_bridge.h"

namespace ambrel::ui {

class DeepScanRun;
class DevicePanel;
class ResultsBrowser;
class ScanPanel;

enum MainWindowNotice : std::uint32_t {
  kNoticeOrganiseBegin = 0x466,
  kNoticeOrganiseEnd = 0x467,
};

inline constexpr char kDiscardResultsQuestion[] =
    "选择其他恢复模式将清除当前的扫描结果，是否继续？";

class MainWindow final : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(WordedPrompt& prompt, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Chooses a recovery mode; while results are shown, only after the user
  // agreed to discard them (false when not).
  bool SelectMode(int mode);
  // The mode marked in the menus (0 none).
  int markedMode() const;
  void ShowModeMenu();
  // Starts the deep scan of the chosen entry in the current recovery mode;
  // when no scan can start, parses its file systems behind the progress
  // dialog and shows their files.
  void StartRecovery(const DeviceInfo& row);
  // The deep scan the window runs (null before the first).
  DeepScanRun* deepScan() const { return run_.get(); }

  FoundFileCatalog& catalog() { return *catalog_; }
  DevicePanel* devicePanel() const { return devices_; }
  ResultsBrowser* browser() const { return browser_; }
  ScanPanel* scanPanel() const { return scan_; }
  // 0 menu, 1 device selection, 2 results, 3 final results (progress panel gone).
  int layoutState() const { return layoutState_; }
  QWidget* currentPanel() const { return pages_->currentWidget(); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnNotice(quint32 message, quint64 wparam, quint64 lparam);
  QWidget* BuildLongMenu();
  QWidget* BuildShortMenu();
  void BuildMenuBar();
  void OpenSettingLink(const char* key);
  void ShowResultsLayout(int state);
  bool StartDeepScan(const DeviceInfo& row);
  void ParseWithoutScan();
  void MarkMode(int mode);
  void DiscardResults();

  WordedPrompt& prompt_;
  std::unique_ptr<FoundFileCatalog> catalog_;
  NoticeBridge windowNotices_;
  QStackedWidget* pages_;
  QWidget* menu_;
  DevicePanel* devices_;
  ScanPanel* scan_;
  ResultsBrowser* browser_;
  QWidget* resultsPage_;
  int layoutState_ = 0;
  std::map<int, QAbstractButton*> modeButtons_;  // the menu page's entries
  std::map<int, QAction*> modeActions_;          // the menu bar's entries
  std::unique_ptr<DeepScanRun> run_;
  std::unique_ptr<SourceSession> source_;  // the device of the current recovery
};

}  // namespace ambrel::ui
