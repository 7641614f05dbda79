// The checks and messages of the filter, save, deep-scan settings and
// progress dialogs, the device image rule, the start-up failures and a
// notice from a worker thread reaching a widget.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QMessageBox>
#include <QHeaderView>
#include <QRadioButton>
#include <QSplitter>
#include <QTimer>
#include <QtTest>
#include <thread>

#include "app/startup.h"
#include "app/user_prompt.h"
#include "app/settings.h"
#include "deep_scan_run.h"
#include "deep_scan_settings.h"
#include "file_type_page.h"
#include "device_access.h"
#include "filter_dialog.h"
#include "gui_prompt.h"
#include "notice_bridge.h"
#include "progress_dialog.h"
#include "progress_texts.h"
#include "recovery_modes.h"
#include "save_dialog.h"
#include "scan_panel.h"
#include "startup_flow.h"
#include "translations.h"
#include "window_state.h"
#include "results_browser.h"
#include "ui_test_support.h"

using namespace ambrel;
using namespace ambrel::ui;
using namespace ambrel::test;

namespace {
QString T(const char* utf8) { return QString::fromUtf8(utf8); }
}

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { LoadBuiltSettings(); }

  void filterChecksInOrder() {
    RecordingPrompt prompt;
    FilterDialog dialog(DefaultFilterSettings(2024, 5, 6), prompt);
    QCOMPARE(dialog.windowTitle(), T("文件搜索设置"));
    dialog.keywords()->setText(QStringLiteral("a|b"));
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("多个关键字请用';'隔开！"));
    dialog.keywords()->setText(QStringLiteral("report.doc"));
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("只支持通配符 *.扩展名"));
    dialog.keywords()->setText(QStringLiteral("*.jpg;*.png;photo"));
    dialog.dateEdit(0, false)->setDate(QDate(2024, 1, 2));
    dialog.dateEdit(0, true)->setDate(QDate(2023, 1, 2));
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("文件创建起始时间大于结束时间，设置不合法！"));
    dialog.dateEdit(0, true)->setDate(QDate(2024, 5, 6));
    dialog.dateEdit(1, false)->setDate(QDate(2024, 5, 7));
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("文件修改起始时间大于结束时间，设置不合法！"));
    dialog.dateEdit(1, false)->setDate(QDate(1980, 1, 1));
    dialog.dateEdit(2, false)->setDate(QDate(2025, 1, 1));
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("文件访问起始时间大于结束时间，设置不合法！"));
    dialog.dateEdit(2, false)->setDate(QDate(1980, 1, 1));
    QVERIFY(dialog.TryAccept());
    QCOMPARE(dialog.chosen().keywords, std::string("*.jpg;*.png;photo"));
    QCOMPARE(dialog.chosen().createdFrom, FilterFromDate(2024, 1, 2));
    QCOMPARE(dialog.chosen().createdTo, FilterToDate(2024, 5, 6));
  }

  void filterSizeFieldsCheckEveryEdit() {
    RecordingPrompt prompt;
    FilterDialog dialog(DefaultFilterSettings(2024, 5, 6), prompt);
    QTest::keyClicks(dialog.minSize(), QStringLiteral("x"));
    QCOMPARE(prompt.last(), std::string("输入的文件大小不合法!"));
    QCOMPARE(dialog.minSize()->text(), QStringLiteral("0"));
    dialog.minSize()->clear();
    QTest::keyClicks(dialog.minSize(), QStringLiteral("2048"));
    QCOMPARE(dialog.minSizeLabel()->text(), QStringLiteral("2.00(MB)"));
    dialog.maxSize()->clear();
    QTest::keyClicks(dialog.maxSize(), QStringLiteral("1024"));
    QCOMPARE(dialog.maxSizeLabel()->text(), QStringLiteral("1024(KB)"));
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("文件起始大小大于最大大小，设置不合法！"));
  }

  void saveDialogChecksTheTarget() {
    RecordingPrompt prompt;
    SaveDialog dialog(3, 10000, "", prompt);
    QCOMPARE(dialog.windowTitle(), T("准备恢复文件"));
    dialog.folderField()->setText(QString());
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("请选择文件恢复后的保存目录！"));
    dialog.folderField()->setText(QStringLiteral("/nonexistent/ambrel/target"));
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("选择的目录不合法，恢复失败！"));
    const std::string folder = TempFolder("save");
    dialog.folderField()->setText(QString::fromStdString(folder));
    QVERIFY(!dialog.advancedShown());
    dialog.ToggleAdvanced();
    QCOMPARE(prompt.last(), std::string("非专业用户请勿修改高级设置！"));
    QVERIFY(dialog.advancedShown());
    QCOMPARE(dialog.advancedButton()->text(), T("普通设置"));
    dialog.setOverwrite(kOverwriteSkip);
    dialog.setReadErrors(kReadErrorsWriteAll);
    QVERIFY(dialog.TryAccept());
    QCOMPARE(dialog.parameters().folder, folder);
    QCOMPARE(dialog.parameters().overwrite, std::uint32_t(kOverwriteSkip));
    QCOMPARE(dialog.parameters().readErrors, std::uint32_t(kReadErrorsWriteAll));
    QCOMPARE(SaveDialog::LastFolder(), QString::fromStdString(folder));
    dialog.ToggleAdvanced();
    QCOMPARE(dialog.advancedButton()->text(), T("高级设置"));
  }

  // The policy groups carry the copy-out's own words, in the order of the
  // policy numbers the copy reads.
  void saveDialogPolicyTexts() {
    RecordingPrompt prompt;
    SaveDialog dialog(1, 10, "", prompt);
    QStringList titles, choices;
    for (QGroupBox* box : dialog.findChildren<QGroupBox*>()) {
      titles << box->title();
      for (QRadioButton* b : box->findChildren<QRadioButton*>()) choices << b->text();
    }
    QCOMPARE(titles, (QStringList{T("文件已存在时："), T("遇到磁盘读写错误时：")}));
    QCOMPARE(choices, (QStringList{T("提示用户"), T("覆盖文件"), T("跳过文件"), T("清空当前文件"),
                                   T("保留已恢复的数据，并跳过当前文件"), T("恢复文件全部数据")}));
    dialog.setOverwrite(kOverwriteAsk);
    dialog.setReadErrors(kReadErrorsEmptyFile);
    dialog.folderField()->setText(QString::fromStdString(TempFolder("save-policies")));
    QVERIFY(dialog.TryAccept());
    QCOMPARE(dialog.parameters().overwrite, std::uint32_t(kOverwriteAsk));
    QCOMPARE(dialog.parameters().readErrors, std::uint32_t(kReadErrorsEmptyFile));
  }

  // The window comes back where it was, its named splitters as they were;
  // a missing file leaves it alone.
  void windowStateIsKeptBetweenRuns() {
    const QString file = WindowStateFile(QString::fromStdString(TempFolder("window-state")));
    QFile::remove(file);
    auto build = [] {
      auto* window = new QWidget;
      auto* split = new QSplitter(window);
      split->setObjectName(QStringLiteral("browserSplit"));
      split->addWidget(new QWidget);
      split->addWidget(new QWidget);
      split->resize(600, 400);
      return window;
    };
    std::unique_ptr<QWidget> first(build());
    QVERIFY(!RestoreWindowState(*first, file));
    first->setGeometry(40, 50, 900, 700);
    first->show();
    auto* split = first->findChild<QSplitter*>();
    split->setSizes({250, 350});
    const QList<int> sizes = split->sizes();
    SaveWindowState(*first, file);
    first.reset();

    std::unique_ptr<QWidget> second(build());
    QVERIFY(RestoreWindowState(*second, file));
    QCOMPARE(second->size(), QSize(900, 700));
    QCOMPARE(second->findChild<QSplitter*>()->sizes(), sizes);
  }

  // At the window's first size every column of the file list up to the
  // modification time is in view, and the settings' type names whole.
  void browserColumnsAndTypeNamesFit() {
    auto catalog = SyntheticCatalog(3);
    RecordingPrompt prompt;
    {
      ResultsBrowser browser(*catalog, prompt);
      browser.resize(780, 480);
      browser.show();
      browser.Rebuild();
      browser.OpenFolder(kFirstPartitionSlot, kBigId);
      QVERIFY(QTest::qWaitForWindowExposed(&browser));
      QHeaderView* header = browser.detailView()->header();
      const int right = header->sectionViewportPosition(3) + header->sectionSize(3);
      QVERIFY2(right <= browser.detailView()->viewport()->width(),
               qPrintable(QStringLiteral("%1 > %2").arg(right).arg(browser.detailView()->viewport()->width())));
      browser.Clear();
    }
    FileTypePage page({});
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTreeWidget* tree = page.tree();
    QVERIFY(tree->columnWidth(0) >= static_cast<QAbstractItemView*>(tree)->sizeHintForColumn(0));
  }

  // Qt's own dialogs speak Chinese once its catalogue is loaded: the
  // standard buttons and the file chooser's labels.
  void qtDialogsAreInChinese() {
    QVERIFY(InstallQtTranslations());
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), T("取消"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), T("查找范围："));
    QVERIFY(!InstallQtTranslations(QString::fromStdString(TempFolder("no-translations"))));
  }

  // The stop question is answered by buttons that say what they do; the
  // one that stops gives "no", and Escape keeps the scan going.
  void stopQuestionButtonsSayWhatTheyDo() {
    const AnswerTexts stop = AnswersFor(T(kKeepScanningQuestion));
    QCOMPARE(stop.yes, T("继续扫描"));
    QCOMPARE(stop.no, T("停止扫描"));
    QVERIFY(stop.keepIsYes);
    const AnswerTexts other = AnswersFor(T("是否保存当前已扫描的数据？"));
    QCOMPARE(other.yes, T("是"));
    QCOMPARE(other.no, T("否"));

    GuiPrompt prompt;
    QStringList seen;
    auto press = [&](const QString& label) {
      QTimer::singleShot(50, [&seen, label] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        for (QAbstractButton* b : box->buttons()) {
          seen << b->text();
          if (b->text() == label) b->click();
        }
      });
    };
    press(T("停止扫描"));
    QVERIFY(!prompt.AskYesNo(kKeepScanningQuestion));
    QCOMPARE(seen, (QStringList{T("继续扫描"), T("停止扫描")}));
    seen.clear();
    press(T("继续扫描"));
    QVERIFY(prompt.AskYesNo(kKeepScanningQuestion));
    seen.clear();
    press(T("是"));
    QVERIFY(prompt.AskYesNo("覆盖？"));
    QCOMPARE(seen, (QStringList{T("是"), T("否")}));
  }

  // Writing beside an image file cannot change the image: such a folder is
  // a valid target (only the source device itself is refused).
  void saveDialogAcceptsAFolderBesideTheSourceImage() {
    const std::string folder = TempFolder("same-device");
    const std::string image = folder + "/source.img";
    QFile file(QString::fromStdString(image));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, '\0'));
    file.close();
    RecordingPrompt prompt;
    SaveDialog dialog(1, 10, image, prompt);
    dialog.folderField()->setText(QString::fromStdString(folder));
    QVERIFY(dialog.TryAccept());
    QVERIFY(prompt.last() != std::string("您选择的恢复文件保存目录在您需要恢复数据的分区里，请选择其他分区里的目录!"));
  }

  void smallImagesWithoutVolumesAreRefused() {
    const std::string folder = TempFolder("image");
    const QString small = QString::fromStdString(folder + "/small.img");
    QFile file(small);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.resize(100ll << 20);  // 100 MB of zeros: no table, no volume
    file.close();
    DeviceInfo row;
    QCOMPARE(ImageRowFromFile(small.toStdString(), row), ImageCheck::kTooSmall);
    QCOMPARE(std::string(ImageCheckMessage(ImageCheck::kTooSmall)), std::string("镜像文件太小，必须大于128(MB)！"));
    QCOMPARE(ImageRowFromFile(folder + "/missing.img", row), ImageCheck::kCannotOpen);
    QCOMPARE(std::string(ImageCheckMessage(ImageCheck::kCannotOpen)), std::string("打开文件失败！"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.resize((128ll << 20) + 512);
    file.close();
    QCOMPARE(ImageRowFromFile(small.toStdString(), row), ImageCheck::kAccepted);
    QCOMPARE(row.sectorCount, std::uint64_t(0x40001));
    QCOMPARE(row.diskPath, small.toStdString());
    QCOMPARE(row.removable, 1);
    QFile::remove(small);
  }

  void modesChooseTheirDeviceView() {
    QCOMPARE(DeviceViewForMode(1, false), 0);
    QCOMPARE(DeviceViewForMode(6, false), 2);
    QCOMPARE(DeviceViewForMode(4, false), 3);
    QCOMPARE(DeviceViewForMode(2, false), 1);
    QCOMPARE(DeviceViewForMode(2, true), 0);
    QCOMPARE(EmptyDeviceListText(3, false), std::string("获取设备信息失败!"));
    QVERIFY(EmptyDeviceListText(4, false).rfind("获取USB存储设备信息失败!", 0) == 0);
  }

  void deepScanSettingsChecks() {
    QVERIFY(PriorityTextAccepted(QStringLiteral("4299999999")));
    QVERIFY(!PriorityTextAccepted(QStringLiteral("4300000000")));
    QVERIFY(!PriorityTextAccepted(QStringLiteral("5000000000")));
    QVERIFY(!PriorityTextAccepted(QStringLiteral("12345678901")));
    QCOMPARE(PriorityGbText(QStringLiteral("123")), QStringLiteral("0(GB)"));
    QCOMPARE(PriorityGbText(QStringLiteral("4194304")), QStringLiteral("2(GB)"));
    PartitionInfo part;
    part.startLba = 2048;
    part.sectorCount = 1000000;
    RecordingPrompt prompt;
    DeepScanOptions options;
    options.Byte(33) = 2;  // fixed by the mode
    DeepScanSettingsDialog dialog(part, options, prompt);
    QCOMPARE(dialog.windowTitle(), T("参数设置"));
    QVERIFY(!dialog.optionBox(33)->isEnabled());
    dialog.startField()->setText(QStringLiteral("1000"));
    dialog.countField()->setText(QStringLiteral("5000"));
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("输入的优先扫描起始地址不合法！"));
    dialog.startField()->setText(QStringLiteral("4096"));
    dialog.countField()->setText(QStringLiteral("999999"));
    QVERIFY(!dialog.TryAccept());
    QCOMPARE(prompt.last(), std::string("输入的优先扫描范围不合法！"));
    QTest::keyClicks(dialog.startField(), QStringLiteral("z"));
    QCOMPARE(prompt.last(), std::string("优先扫描地址输入不合法!"));
    dialog.startField()->setText(QStringLiteral("4096"));
    dialog.countField()->setText(QStringLiteral("8192"));
    dialog.optionBox(34)->setChecked(false);
    dialog.optionBox(33)->setChecked(false);
    QVERIFY(dialog.TryAccept());
    QCOMPARE(dialog.options().priorityStart, 4096u);
    QCOMPARE(dialog.options().priorityLength, 8192u);
    QCOMPARE(int(dialog.options().Byte(34)), 0);
    QCOMPARE(int(dialog.options().Byte(33)), 2);
    QVERIFY(dialog.options().typesLeftOut.none());
  }

  // The two video reassembly switches: the program's settings until the
  // dialog stored them, then the dialog's choice, which the scan takes.
  void deepScanSettingsOfferTheVideoSwitches() {
    PartitionInfo part;
    part.sectorCount = 1000000;
    RecordingPrompt prompt;
    DeepScanOptions options;
    DeepScanSettingsDialog dialog(part, options, prompt);
    QVERIFY(dialog.movFragBox() && dialog.mtsFragBox());
    QCOMPARE(dialog.movFragBox()->isChecked(), SettingOn("MovFragRecovery"));
    dialog.movFragBox()->setChecked(true);
    dialog.mtsFragBox()->setChecked(false);
    QVERIFY(dialog.TryAccept());
    QVERIFY(dialog.options().videoChosen);
    QVERIFY(dialog.options().movFragRecovery);
    QVERIFY(!dialog.options().mtsFragRecovery);
    const DeepScanOptions before = CurrentDeepScanOptions();
    StoreDeepScanOptions(dialog.options());
    QVERIFY(VideoSettingsFromOptions().movOn);
    DeepScanSettingsDialog again(part, dialog.options(), prompt);
    QVERIFY(again.movFragBox()->isChecked());
    StoreDeepScanOptions(before);
  }

  // The file page lists every category with its types; clearing a category
  // leaves out all its types, and the choice comes back when reopened.
  void fileTypePageLeavesOutTheClearedTypes() {
    PartitionInfo part;
    part.sectorCount = 1000000;
    RecordingPrompt prompt;
    DeepScanOptions options;
    DeepScanSettingsDialog dialog(part, options, prompt);
    QTreeWidget* tree = dialog.filePage()->tree();
    QVERIFY(tree->topLevelItemCount() >= 5);
    QTreeWidgetItem* photos = nullptr;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
      for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j)
        if (tree->topLevelItem(i)->child(j)->text(0).contains(QStringLiteral("*.jpg"))) photos = tree->topLevelItem(i);
    QVERIFY(photos != nullptr);
    QCOMPARE(photos->checkState(0), Qt::Checked);
    photos->setCheckState(0, Qt::Unchecked);
    QVERIFY(dialog.TryAccept());
    const auto leftOut = dialog.options().typesLeftOut;
    QVERIFY(leftOut.test(46));   // jpg
    QVERIFY(!leftOut.test(36));  // doc stays
    QCOMPARE(int(leftOut.count()), photos->childCount());

    options.typesLeftOut = leftOut;
    DeepScanSettingsDialog again(part, options, prompt);
    QCOMPARE(again.filePage()->LeftOut(), leftOut);
  }

  void progressDialogShowsStagesAndClosesAfterTheWorker() {
    ScanProgress copy{};
    copy.stage = kStageCopy;
    copy.u.copy.totalFiles = 4;
    copy.u.copy.filesCopied = 1;
    copy.u.copy.totalBytes = 8u << 20;
    copy.u.copy.bytesCopied = 2u << 20;
    std::snprintf(copy.u.copy.currentName, sizeof copy.u.copy.currentName, "%s", "照片.jpg");
    const ProgressLines lines = DialogLines(copy);
    QCOMPARE(lines.title, T("正在恢复磁盘上的文件，请耐心等候！"));
    QCOMPARE(lines.lines.at(0), T("照片.jpg"));
    QCOMPARE(lines.lines.at(1), T("总拷贝数据(MB)： 2 / 8"));
    QCOMPARE(lines.lines.at(2), T("文件数： 1 / 4"));
    QCOMPARE(lines.barPercent, 25);
    ScanProgress scan{};
    scan.stage = kStageDeepScan;
    scan.u.scan.totalSectors = 4096;
    scan.u.scan.doneSectors = 9000;  // above the total: the total twice
    QCOMPARE(DialogLines(scan).lines.at(0), T("扫描范围: 2(MB)/2(MB)     发现文件数: 0     "));
    ScanProgress counter{};
    counter.stage = kStageVideoRebuild;  // a total of 0 leaves the bar alone
    QCOMPARE(PanelLines(counter).barPercent, -1);

    bool second = true;
    const bool finished = RunBehindProgress(nullptr, [&](TaskStatus&) {
      PublishProgress(copy);
      // A second dialog is refused while this one is open, and runs nothing.
      bool ran = false;
      QMetaObject::invokeMethod(qApp, [&] { second = RunBehindProgress(nullptr, [&](TaskStatus&) { ran = true; }); },
                                Qt::BlockingQueuedConnection);
      QVERIFY(!ran);
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    });
    QVERIFY(finished);
    QVERIFY(!second);
    QVERIFY(!ProgressDialog::IsOpen());
  }

  void progressDialogStopReachesTheWorker() {
    std::atomic<bool> sawStop{false};
    const bool finished = RunBehindProgress(nullptr, [&](TaskStatus& status) {
      QMetaObject::invokeMethod(qApp, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (auto* d = qobject_cast<ProgressDialog*>(w)) d->stopButton()->click();
      }, Qt::BlockingQueuedConnection);
      for (int i = 0; i < 100 && status.load() != 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      sawStop = status.load() == 2;
    });
    QVERIFY(!finished);
    QVERIFY(sawStop.load());
  }

  void scanPanelPausesAndAsksBeforeStopping() {
    RecordingPrompt prompt;
    ScanPanel panel(prompt);
    std::atomic<std::uint32_t> state{0};
    panel.Attach(&state);
    QCOMPARE(panel.pauseText(), T("暂停扫描"));
    panel.TogglePause();
    QCOMPARE(panel.pauseText(), T("继续扫描"));
    QCOMPARE(state.load(), 1u);
    panel.TogglePause();
    QCOMPARE(panel.pauseText(), T("暂停扫描"));
    QCOMPARE(state.load(), 0u);
    ScanProgress parse{};
    parse.stage = kStageParse;
    parse.u.parse.presentFiles = 7;
    panel.Show(parse);
    QCOMPARE(panel.firstLine(), T("正在解析磁盘上的文件，请耐心等候！"));
    QCOMPARE(panel.secondLine(), T("发现文件: 7   发现目录: 0       发现已删除文件: 0   发现已删除目录: 0"));
    prompt.answer = true;
    QVERIFY(panel.AskKeepScanning());
    QCOMPARE(state.load(), 0u);
    prompt.answer = false;
    QVERIFY(!panel.AskKeepScanning());
    QCOMPARE(prompt.questions.back(), std::string(kKeepScanningQuestion));
    QCOMPARE(state.load(), 2u);

    // Stopped: the panel says so, nothing can be pressed, and a second
    // stop (the window closing) does not ask again.
    QCOMPARE(panel.firstLine(), T(kStoppingScanText));
    QVERIFY(!panel.pauseButton()->isEnabled());
    QVERIFY(!panel.stopButton()->isEnabled());
    QVERIFY(!panel.saveButton()->isEnabled());
    const std::size_t asked = prompt.questions.size();
    QVERIFY(!panel.AskKeepScanning());
    QCOMPARE(prompt.questions.size(), asked);
    panel.TogglePause();
    QCOMPARE(panel.pauseText(), T("暂停扫描"));
    // The last reading records still arrive: figures change, the line stays.
    ScanProgress scan{};
    scan.stage = kStageDeepScan;
    scan.u.scan.doneSectors = 4096;
    scan.u.scan.totalSectors = 8192;
    panel.Show(scan, T("已用时间: 05     "));
    QCOMPARE(panel.firstLine(), T(kStoppingScanText));
    QCOMPARE(panel.secondLine(), T("扫描范围: 2(MB)/4(MB)     发现文件数: 0     已用时间: 05     "));
    QCOMPARE(panel.barValue(), 50);
    // A new scan starts with live buttons.
    panel.Attach(&state);
    QVERIFY(panel.pauseButton()->isEnabled() && panel.stopButton()->isEnabled());
    QVERIFY(!panel.stopping());
  }

  void noticeFromAWorkerReachesTheWidgetBeforeTheWorkerGoesOn() {
    NoticeBridge bridge;
    QLabel label;
    std::atomic<bool> handledBeforeReturn{false};
    QThread* gui = QThread::currentThread();
    bool onGuiThread = false;
    connect(&bridge, &NoticeBridge::notice, &label, [&](quint32 m, quint64 w, quint64 l) {
      onGuiThread = QThread::currentThread() == gui;
      label.setText(QStringLiteral("%1 %2 %3").arg(m).arg(w).arg(l));
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {
      bridge.OnNotice(1229, 4, 0);  // synchronous: returns once handled
      handledBeforeReturn = label.text() == QStringLiteral("1229 4 0");
      done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    worker.join();
    QVERIFY(handledBeforeReturn.load());
    QVERIFY(onGuiThread);
  }

  void guiPromptFromAWorkerBlocksUntilAnswered() {
    GuiPrompt prompt;
    QStringList shown;
    prompt.messageHook = [&](const QString& text) { shown << text; };
    prompt.questionHook = [&](const QString& text) { return text == T("覆盖？"); };
    std::atomic<bool> answer{false}, done{false};
    std::thread worker([&] {
      prompt.ShowMessage("恢复文件终止！");
      answer = prompt.AskYesNo("覆盖？");
      done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    worker.join();
    QVERIFY(answer.load());
    QCOMPARE(shown, QStringList{T("恢复文件终止！")});
  }

  void startupFailuresAreShown() {
    RecordingPrompt prompt;
    StartupOptions options;
    options.packFolder = TempFolder("no-pack");  // no Base.dat, no Recovery.dat
    options.logFolder = TempFolder("startup-log");
    options.splashRequested = false;
    QCOMPARE(RunGuiStartup(options, prompt), 3);
    QCOMPARE(prompt.last(), PromptText({PromptId::kSettingsError}));

    options.packFolder = AMBREL_PACK_DIR;
    QCOMPARE(RunGuiStartup(options, prompt), 0);
    QCOMPARE(RunGuiStartup(options, prompt), 4);  // the guard is held by the first start
    QVERIFY2(prompt.last().rfind("已经有一个", 0) == 0, prompt.last().c_str());
    QVERIFY2(prompt.last().find("软件运行了!") != std::string::npos, prompt.last().c_str());
    ShutdownApp(100);
    SetUserPrompt(nullptr);
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
