// ambrel-ui-tour IMAGE OUT_DIR: walks the desktop program through its main
// screens on a disk image and saves a PNG of each (scripts/screenshots.sh
// runs it under Xvfb). The image is read through a slowed device, so that
// the scan lasts past its first minute and the panel shows the remaining
// time and the speed.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <thread>

#include "copy_flow.h"
#include "deep_scan_run.h"
#include "deep_scan_settings.h"
#include "device/device_opener.h"
#include "device_panel.h"
#include "filter_dialog.h"
#include "gui_prompt.h"
#include "main_window.h"
#include "preview_pane.h"
#include "qt_text.h"
#include "recovery_modes.h"
#include "results_browser.h"
#include "save_dialog.h"
#include "scan_panel.h"
#include "session/program.h"
#include "startup_flow.h"
#include "translations.h"

using namespace ambrel;
using namespace ambrel::ui;

namespace {

// Every read sleeps while `slow` is set (the scan's own reads of 8 MiB).
std::atomic<bool> slow{false};

class SlowDevice final : public BlockDevice {
 public:
  explicit SlowDevice(std::shared_ptr<BlockDevice> inner) : inner_(std::move(inner)) {}
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (slow.load() && length >= (1u << 20)) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    return inner_->ReadAt(offset, buffer, length);
  }
  std::uint64_t SizeBytes() override { return inner_->SizeBytes(); }
  std::string Path() const override { return inner_->Path(); }

 private:
  std::shared_ptr<BlockDevice> inner_;
};

class SlowOpener final : public DeviceOpener {
 public:
  std::shared_ptr<BlockDevice> Open(const std::string& path, std::string* why) override {
    auto inner = system_.Open(path, why);
    return inner ? std::make_shared<SlowDevice>(inner) : nullptr;
  }

 private:
  SystemDeviceOpener system_;
};

QString g_out;

void Settle(int ms = 300) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

void Shoot(QWidget* widget, const char* name) {
  Settle();
  const QString file = g_out + QStringLiteral("/") + QLatin1String(name) + QStringLiteral(".png");
  const bool ok = widget->grab().save(file);
  std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(file));
}

// Runs `act` on the next modal dialog once it is up (the tour's clicks).
void OnNextModal(const std::function<void(QWidget*)>& act) {
  QTimer::singleShot(400, [act] {
    if (QWidget* modal = QApplication::activeModalWidget()) act(modal);
    else OnNextModal(act);
  });
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  InstallQtTranslations();
  if (argc < 3) {
    std::fprintf(stderr, "usage: ambrel-ui-tour IMAGE OUT_DIR\n");
    return 2;
  }
  const QString image = QString::fromLocal8Bit(argv[1]);
  g_out = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(g_out);

  GuiPrompt prompt;
  QStringList messages;
  prompt.messageHook = [&](const QString& text) { messages << text; };
  prompt.questionHook = [](const QString&) { return false; };  // no reuse, no save
  StartupOptions options;
  options.packFolder = QCoreApplication::applicationDirPath().toStdString() + "/../cli";
  options.logFolder = QDir::tempPath().toStdString();
  options.splashRequested = false;
  options.singleInstance = false;
  if (const int status = RunGuiStartup(options, prompt)) return status;
  SetProgramFolder(QDir::tempPath().toStdString());
  SubstituteDeviceOpener(std::make_shared<SlowOpener>());

  int result = 0;
  {
    MainWindow window(prompt);
    prompt.setWindow(&window);
    window.resize(800, 600);
    window.show();
    window.ShowModeMenu();
    Shoot(&window, "01-mode-menu");

    window.SelectMode(1);
    window.devicePanel()->ShowRows({}, "");
    if (!window.devicePanel()->AddImage(image)) return 1;
    Shoot(&window, "02-device-selection");

    const DeviceInfo row = *window.devicePanel()->SelectedRow();
    {
      PartitionInfo part;
      MakePartitionInfo(row, part);
      DeepScanSettingsDialog dialog(part, CurrentDeepScanOptions(), prompt, &window);
      dialog.show();
      Shoot(&dialog, "03-scan-settings");
      if (auto* tabs = dialog.findChild<QTabWidget*>()) tabs->setCurrentIndex(1);
      if (auto* types = dialog.findChild<QTreeWidget*>()) {
        types->expandItem(types->topLevelItem(0));
        types->expandItem(types->topLevelItem(1));
      }
      Shoot(&dialog, "04-scan-settings-file-types");
    }

    slow = true;
    window.StartRecovery(row);
    ScanPanel* panel = window.scanPanel();
    // Past the first minute the panel adds the remaining time and speed.
    WaitFor([&] { return panel->secondLine().contains(Q("速度")); }, 120000);
    Shoot(&window, "05-scan-in-progress");
    slow = false;
    WaitFor([&] { return window.layoutState() == 3; }, 120000);
    Settle(800);

    ResultsBrowser* browser = window.browser();
    // Open the first volume found, a folder with files.
    browser->Command(kCmdDirectoryView);
    Settle();
    if (browser->treeView()->model()->rowCount() > 1) {
      const QModelIndex second = browser->treeView()->model()->index(1, 0);
      browser->treeView()->expand(second);
      browser->treeView()->setCurrentIndex(second);
    }
    Shoot(&window, "06-browser-folders");
    // The preview pane under the list: the docs folder's text file, its
    // dump, then its photo.
    if (browser->treeView()->model()->rowCount() > 1) {
      const QModelIndex second = browser->treeView()->model()->index(1, 0);
      const QModelIndex docs = browser->treeView()->model()->index(0, 0, second);
      if (docs.isValid()) browser->treeView()->setCurrentIndex(docs);
      Settle();
      QAbstractItemModel* files = browser->detailView()->model();
      for (int r = 0; r < files->rowCount(); ++r) {
        const QString name = files->index(r, 0).data().toString();
        const bool text = name.contains(QStringLiteral("hello"), Qt::CaseInsensitive);
        const bool photo = name.contains(QStringLiteral("photo"), Qt::CaseInsensitive);
        if (!text && !photo) continue;
        const std::uint64_t before = browser->previewPane()->shownSerial();
        browser->detailView()->setCurrentIndex(files->index(r, 0));
        WaitFor([&] { return browser->previewPane()->shownSerial() != before; }, 10000);
        Settle();
        Shoot(&window, text ? "12-preview-text" : "14-preview-picture");
        if (text) {
          browser->previewPane()->switchButton()->click();
          Settle();
          Shoot(&window, "13-preview-hex");
        }
      }
    }
    browser->Command(kCmdTypeView);
    browser->treeView()->expandToDepth(1);
    Shoot(&window, "07-browser-types");
    browser->Command(kCmdModifiedView);
    browser->treeView()->expandToDepth(1);
    Shoot(&window, "08-browser-dates");
    browser->Command(kCmdDirectoryView);

    OnNextModal([](QWidget* dialog) {
      Shoot(dialog, "09-filter");
      dialog->close();
    });
    browser->Command(kCmdFilter);

    // Check everything of the volumes found and recover it.
    for (std::uint32_t slot = kFirstPartitionSlot; slot < window.catalog().partitionCount(); ++slot)
      if (window.catalog().GetCheck(slot, kRootId) == 0) window.catalog().ToggleCheck(slot, kRootId);
    const QString target = QDir::tempPath() + QStringLiteral("/ambrel-tour-out");
    QDir(target).removeRecursively();
    QDir().mkpath(target);
    OnNextModal([target](QWidget* modal) {
      auto* dialog = qobject_cast<SaveDialog*>(modal);
      if (!dialog) return;
      dialog->folderField()->setText(target);
      dialog->ToggleAdvanced();
      Shoot(dialog, "10-save-dialog");
      dialog->TryAccept();
    });
    messages.clear();
    browser->copyFlow().RecoverChecked();
    Settle(500);
    QMessageBox report(QMessageBox::Information, window.windowTitle(),
                       messages.isEmpty() ? QString() : messages.back(), QMessageBox::NoButton, &window);
    report.addButton(Q("确定"), QMessageBox::AcceptRole);
    report.show();
    Shoot(&report, "11-completion-report");
    report.close();
    for (const QString& m : messages) std::printf("report: %s\n", qPrintable(m));
    prompt.setWindow(nullptr);
  }
  ShutdownApp();
  return result;
}
