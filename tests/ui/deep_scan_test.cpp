// The window's deep scan: started on the chosen device, followed by the
// progress panel, paused through the scan's session, and guarding the
// copy-out with the scan's live state.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "app/settings.h"
#include "copy_flow.h"
#include "deep_scan_run.h"
#include "device/device_opener.h"
#include "device_access.h"
#include "device_panel.h"
#include "main_window.h"
#include "recovery_modes.h"
#include "results_browser.h"
#include "scan_panel.h"
#include "ui_test_support.h"

using namespace ambrel;
using namespace ambrel::ui;
using namespace ambrel::test;

namespace {

// Reads past the first chunk of every device wait while the gate is shut,
// so a test can look at a scan that is known to be running (the volume's
// own structures, read before, all lie in the first 8 MiB).
class Gate {
 public:
  void Shut() { Set(false); }
  void Open() { Set(true); }
  void Wait() {
    std::chrono::milliseconds delay{};
    {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [this] { return open_; });
      delay = delay_;
    }
    std::this_thread::sleep_for(delay);
  }
  // Each read past the first chunk then takes this long: a slow device.
  void SetDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> hold(lock_);
    delay_ = delay;
  }

 private:
  void Set(bool open) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      open_ = open;
    }
    changed_.notify_all();
  }
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_ = true;
  std::chrono::milliseconds delay_{};
};

// A failed check leaves the test's block with the scan waiting at the
// gate: declared after the window, it opens the gate before the window's
// end joins the scan.
struct OpenAtExit {
  Gate& gate;
  ~OpenAtExit() { gate.Open(); }
};

constexpr std::uint64_t kFirstChunkBytes = 8u << 20;

class GatedDevice final : public BlockDevice {
 public:
  GatedDevice(std::shared_ptr<BlockDevice> inner, Gate& gate) : inner_(std::move(inner)), gate_(gate) {}
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= kFirstChunkBytes) gate_.Wait();
    return inner_->ReadAt(offset, buffer, length);
  }
  std::uint64_t SizeBytes() override { return inner_->SizeBytes(); }
  std::string Path() const override { return inner_->Path(); }

 private:
  std::shared_ptr<BlockDevice> inner_;
  Gate& gate_;
};

class GatedOpener final : public DeviceOpener {
 public:
  explicit GatedOpener(Gate& gate) : gate_(gate) {}
  std::shared_ptr<BlockDevice> Open(const std::string& path, std::string* why) override {
    auto inner = system_.Open(path, why);
    return inner ? std::make_shared<GatedDevice>(inner, gate_) : nullptr;
  }

 private:
  SystemDeviceOpener system_;
  Gate& gate_;
};

// Every device opened while this lives goes through one gate; the opener
// in use before comes back when it goes, also when a check fails early.
struct GatedDevices {
  GatedDevices() : previous(SubstituteDeviceOpener(std::make_shared<GatedOpener>(gate))) {}
  ~GatedDevices() { SubstituteDeviceOpener(previous); }
  Gate gate;
  std::shared_ptr<DeviceOpener> previous;
};

bool WaitFor(const std::function<bool()>& done, int ms = 60000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// A FAT32 volume made by mkfs.vfat with its defaults, holding one file.
std::string MakeFat32Image(const std::string& folder) {
  const std::string image = folder + "/card.img";
  const std::string command = "truncate -s 64M " + image + " && mkfs.vfat -F 32 " + image +
                              " >/dev/null && printf 'hello deep scan' > " + folder +
                              "/a.txt && mcopy -i " + image + " " + folder + "/a.txt ::/a.txt";
  return std::system(command.c_str()) == 0 ? image : std::string();
}

}  // namespace

class DeepScanTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    LoadBuiltSettings();
    SetSettingsLoaded(true);
  }

  void aScanRunsToItsEndAndTheCopyWaitsForItOnFat32DeletedFiles() {
    const std::string image = MakeFat32Image(TempFolder("ui-deep-scan"));
    if (image.empty()) QSKIP("mkfs.vfat or mtools missing");
    DeviceInfo row;
    QCOMPARE(int(ImageRowFromFile(image, row)), int(ImageCheck::kAccepted));
    GatedDevices devices;
    Gate& gate = devices.gate;
    RecordingPrompt prompt;
    {
      MainWindow window(prompt);
      OpenAtExit openAtExit{gate};
      SetCurrentRecoveryMode(ModeNumber(::ambrel::RecoveryMode::kDeletedFiles));
      gate.Shut();
      window.StartRecovery(row);
      QVERIFY(window.deepScan() != nullptr);
      QCOMPARE(window.layoutState(), 2);
      QVERIFY(window.deepScan()->Running());

      // While it runs, deleted files of a FAT32 volume cannot be copied yet.
      const ScanGateInput gateNow = window.browser()->copyFlow().session().Gate();
      QCOMPARE(gateNow.partitionFsKind, kFsFat32);
      QCOMPARE(gateNow.recoveryMode, ::ambrel::RecoveryMode::kDeletedFiles);
      window.browser()->copyFlow().RecoverChecked();
      QCOMPARE(prompt.last(), std::string("FAT32分区删除的文件，扫描完后才能恢复，请耐心等待!"));


      // The panel's pause goes through the session.
      window.scanPanel()->TogglePause();
      QCOMPARE(window.deepScan()->job().Scan().State(), ScanState::kPaused);
      window.scanPanel()->TogglePause();
      QCOMPARE(window.deepScan()->job().Scan().State(), ScanState::kRunning);

      gate.Open();
      QVERIFY(WaitFor([&] { return window.layoutState() == 3; }));
      QVERIFY(WaitFor([&] { return window.deepScan()->job().Scan().State() == ScanState::kFinished; }));
      QVERIFY(window.deepScan()->job().Scan().Completed());
      // The organised results are in the catalogue: the volume (its
      // deleted-files view in this mode) after the signature slot.
      QVERIFY(window.catalog().partitionCount() > kFirstPartitionSlot);
      // Finished: the guard lets the copy through to its own checks.
      prompt.messages.clear();
      window.browser()->copyFlow().RecoverChecked();
      QCOMPARE(prompt.last(), std::string("请至少选择一个需要恢复的文件或目录!"));

      // The view buttons show the view on.
      QCOMPARE(window.browser()->checkedViewCommand(), int(kCmdDirectoryView));
      window.browser()->Command(kCmdTypeView);
      QCOMPARE(window.browser()->checkedViewCommand(), int(kCmdTypeView));
      window.browser()->Command(kCmdDirectoryView);
      QCOMPARE(window.browser()->checkedViewCommand(), int(kCmdDirectoryView));

      // Another mode discards the results only when the user agrees.
      window.SelectMode(2);
      QCOMPARE(window.markedMode(), 2);
      prompt.answer = false;
      QVERIFY(!window.SelectMode(3));
      QCOMPARE(prompt.questions.back(), std::string(kDiscardResultsQuestion));
      QCOMPARE(CurrentRecoveryMode(), 2);
      QCOMPARE(window.markedMode(), 2);
      QCOMPARE(window.layoutState(), 3);
      QVERIFY(window.catalog().partitionCount() > kFirstPartitionSlot);
      prompt.answer = true;
      QVERIFY(window.SelectMode(3));
      QCOMPARE(CurrentRecoveryMode(), 3);
      QCOMPARE(window.markedMode(), 3);
      QCOMPARE(window.layoutState(), 1);
      QVERIFY(window.catalog().partitionCount() <= kFirstPartitionSlot);
      QVERIFY(window.devicePanel()->modeText().contains(QStringLiteral("误格式化恢复")));
      // No results: choosing a mode asks nothing.
      const std::size_t asked = prompt.questions.size();
      QVERIFY(window.SelectMode(6));
      QCOMPARE(prompt.questions.size(), asked);
      QCOMPARE(window.markedMode(), 6);
    }
  }

  // An image row shows its folder and its file systems; the empty-list
  // message of the enumeration goes once the image fills the list.
  void imageRowsShowFolderAndFileSystem() {
    const std::string folder = TempFolder("ui-image-row");
    const std::string image = MakeFat32Image(folder);
    if (image.empty()) QSKIP("mkfs.vfat or mtools missing");
    RecordingPrompt prompt;
    DevicePanel panel(prompt);
    panel.ShowRows({}, "获取设备信息失败!");
    QVERIFY(panel.messageShown());
    QVERIFY(panel.AddImage(QString::fromStdString(image)));
    QVERIFY(!panel.messageShown());
    QCOMPARE(panel.rows().size(), std::size_t(1));
    const DeviceInfo& row = panel.rows()[0];
    QCOMPARE(row.displayName, folder + "/");
    QCOMPARE(row.diskName, image);  // the saved scan's identity stays the file
    QCOMPARE(row.fsName, std::string("FAT32"));
    QTreeWidgetItem* item = panel.list_->topLevelItem(0);
    QCOMPARE(item->text(0), QString::fromStdString(folder + "/"));
    QCOMPARE(item->text(3), QStringLiteral("FAT32"));
    QCOMPARE(item->toolTip(0), QString::fromStdString(image));
  }

  void closingTheWindowStopsARunningScanWithoutHanging() {
    const std::string image = MakeFat32Image(TempFolder("ui-deep-scan-close"));
    if (image.empty()) QSKIP("mkfs.vfat or mtools missing");
    DeviceInfo row;
    QCOMPARE(int(ImageRowFromFile(image, row)), int(ImageCheck::kAccepted));
    GatedDevices devices;
    Gate& gate = devices.gate;
    RecordingPrompt prompt;
    prompt.answer = false;  // "wait a few more minutes?" No
    QString savedState;
    {
      MainWindow window(prompt);
      OpenAtExit openAtExit{gate};
      window.show();
      SetCurrentRecoveryMode(ModeNumber(::ambrel::RecoveryMode::kAllFiles));
      // A slow device: the panel shows the time the scan has taken.
      gate.SetDelay(std::chrono::milliseconds(1000));
      window.StartRecovery(row);
      QVERIFY(window.deepScan() && window.deepScan()->Running());
      QVERIFY(WaitFor([&] { return window.scanPanel()->secondLine().contains(QStringLiteral("已用时间: ")); }));
      gate.Shut();
      gate.SetDelay({});
      QVERIFY(window.deepScan()->Running());
      // The save button writes the scan state and the scan goes on.
      const QString stateFile = QString::fromStdString(window.deepScan()->job().StateFilePath());
      QFile::remove(stateFile);
      window.scanPanel()->SaveScanState();
      QCOMPARE(prompt.last(), std::string("保存扫描数据成功！"));
      QVERIFY(QFileInfo(stateFile).size() > 4);
      QVERIFY(window.deepScan()->Running());
      QVERIFY(!window.deepScan()->job().Paused());
      savedState = stateFile;
      // The reads resume only once the window is closing, so the scan is
      // surely still running when the question comes; the window then
      // waits for the stopped scan while handling events.
      QTimer::singleShot(100, [&gate] { gate.Open(); });
      window.close();
      QCOMPARE(prompt.questions.size(), std::size_t(1));
      QCOMPARE(prompt.questions.back(), std::string(kKeepScanningQuestion));
      QVERIFY(!window.deepScan()->Running());
      QVERIFY(window.scanPanel()->stopping());
    }
    // The next scan of the same image offers the saved scan for reuse.
    QVERIFY(QFileInfo::exists(savedState));
    prompt.questions.clear();
    {
      MainWindow window(prompt);
      OpenAtExit openAtExit{gate};
      gate.Open();
      window.StartRecovery(row);
      QVERIFY(window.deepScan() != nullptr);
      QVERIFY(WaitFor([&] { return !prompt.questions.empty(); }));
      QCOMPARE(prompt.questions.front(), std::string("磁盘上保存有当前设备以前扫描的数据，是否复用？"));
      QVERIFY(WaitFor([&] { return !window.deepScan()->Running(); }));
    }
    QFile::remove(savedState);
  }
};

QTEST_MAIN(DeepScanTest)
#include "deep_scan_test.moc"
