// The checks before a run, the temporary copies of "open", the name rules
// and the report texts.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "app/settings.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/output_file.h"
#include "recovery/recovery_test_support.h"
#include "recovery/safe_name.h"
#include "session/texts.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

TEST(SafeNames, ComponentsThatWouldLeaveTheFolderAreReplaced) {
  EXPECT_EQ(SafeComponent(""), "_");
  EXPECT_EQ(SafeComponent("."), "_");
  EXPECT_EQ(SafeComponent(".."), "_");
  EXPECT_EQ(SafeComponent("a/b"), "a_b");
  EXPECT_EQ(SafeComponent("..\\..\\x"), ".._.._x");
  EXPECT_EQ(SafeComponent(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SafeComponent("tab\there\n"), "tab_here_");
  EXPECT_EQ(SafeComponent("...") , "...");
  EXPECT_EQ(SafeComponent("a:b?.txt"), "a:b?.txt");
  EXPECT_EQ(SafeComponent("总结报告.txt"), "总结报告.txt");
}

TEST(SafeNames, RetryReplacesWindowsInvalidCharactersByDigits) {
  auto seven = [] { return '7'; };
  EXPECT_EQ(ReplaceInvalidNameChars("a:b?.txt", seven), "a7b7.txt");
  EXPECT_EQ(ReplaceInvalidNameChars("x\"*<>|\\/y", seven), "x7777777y");
  // CJK ideographs are kept; accented letters, kana and full-width
  // punctuation are not.
  EXPECT_EQ(ReplaceInvalidNameChars("总结报告", seven), "总结报告");
  EXPECT_EQ(ReplaceInvalidNameChars("é", seven), "7");
  EXPECT_EQ(ReplaceInvalidNameChars("かな", seven), "77");
  EXPECT_EQ(ReplaceInvalidNameChars("，", seven), "7");
  EXPECT_EQ(ReplaceInvalidNameChars("😀", seven), "77");
  EXPECT_EQ(ReplaceInvalidNameChars("plain-name_1.txt", seven), "plain-name_1.txt");
  const std::string random = ReplaceInvalidNameChars("a:b");
  ASSERT_EQ(random.size(), 3u);
  EXPECT_TRUE(random[1] >= '0' && random[1] <= '9');
}

TEST(SafeNames, UniqueVariants) {
  auto taken = [](const std::string& p) { return p == "/t/a (2).txt"; };
  EXPECT_EQ(UniqueVariant("/t/a.txt", taken), "/t/a (3).txt");
  EXPECT_EQ(UniqueVariant("/t/.hidden", taken), "/t/.hidden (2)");
  EXPECT_EQ(UniqueVariant("/t/noext", taken), "/t/noext (2)");
}

class TargetChecks : public ::testing::Test {
 protected:
  void SetUp() override { SetSettingsLoaded(true); }
  test::RecordingPrompt prompt_;
};

TEST_F(TargetChecks, RunInOrder) {
  const std::string here = test::TempDir("target-checks");
  const std::string image = here + "/disk.img";
  std::ofstream(image) << std::string(4096, 'x');
  EXPECT_EQ(ValidateTarget("", 0, image), CopyRefusal::kNoTargetFolder);
  EXPECT_EQ(ValidateTarget(here + "/missing", 0, image), CopyRefusal::kTargetInvalid);
  // A folder on the file system that holds the image is allowed.
  EXPECT_EQ(ValidateTarget(here, 0, image), CopyRefusal::kNone);
  EXPECT_EQ(CopyRefusalText(CopyRefusal::kNoTargetFolder, "恢复"), "请选择文件恢复后的保存目录！");
  EXPECT_EQ(CopyRefusalText(CopyRefusal::kTargetInvalid, "恢复"), "选择的目录不合法，恢复失败！");
  const std::string other = test::OtherDeviceFolder("target-checks");
  if (other.empty()) GTEST_SKIP() << "no second file system";
  EXPECT_EQ(ValidateTarget(other, 0, image), CopyRefusal::kNone);
  std::uint64_t freeBytes = 0;
  ASSERT_TRUE(FreeBytesOfFolder(other, freeBytes));
  // 103 bytes per 100 must be free: 10,000 bytes need 10,300. Other tests
  // write on the same file system meanwhile, so each side keeps 2% of slack.
  EXPECT_EQ(ValidateTarget(other, freeBytes / 100 * 95, image), CopyRefusal::kNone);
  EXPECT_EQ(ValidateTarget(other, freeBytes / 100 * 99, image), CopyRefusal::kNotEnoughSpace);
  EXPECT_EQ(CopyRefusalText(CopyRefusal::kNotEnoughSpace, "恢复"), "您选择的目录所在磁盘的空间不足!");
  // Free space beyond 32 bits is compared in 64 bits.
  EXPECT_GT(freeBytes, 0xFFFFFFFFull);
  EXPECT_EQ(ValidateTarget(other, 0x100000000ull, image), CopyRefusal::kNone);
  fs::remove_all(other);
}

// The device node that holds the temporary folder's file system.
TEST_F(TargetChecks, ABlockDeviceSourceRefusesAFolderOnItsOwnFileSystem) {
  const std::string here = test::TempDir("target-disk");
  struct stat folder {};
  ASSERT_EQ(::stat(here.c_str(), &folder), 0);
  const std::string sys =
      "/sys/dev/block/" + std::to_string(major(folder.st_dev)) + ":" + std::to_string(minor(folder.st_dev));
  std::error_code ec;
  const std::string node = "/dev/" + fs::read_symlink(sys, ec).filename().string();
  struct stat st {};
  if (ec || ::stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) GTEST_SKIP() << "no device node for " << sys;
  EXPECT_EQ(ValidateTarget(here, 0, node), CopyRefusal::kTargetOnSource);
  EXPECT_EQ(CopyRefusalText(CopyRefusal::kTargetOnSource, "恢复"),
            "您选择的恢复文件保存目录在您需要恢复数据的分区里，请选择其他分区里的目录!");
  const std::string other = test::OtherDeviceFolder("target-disk");
  if (!other.empty()) {
    EXPECT_EQ(ValidateTarget(other, 0, node), CopyRefusal::kNone);
    fs::remove_all(other);
  }
}

TEST_F(TargetChecks, ScanGateWhileAScanRuns) {
  ScanGateInput scan;
  scan.scanRunning = false;
  EXPECT_EQ(CheckScanGate(scan), CopyRefusal::kNone);
  scan.scanRunning = true;
  scan.partitionFsKind = kFsFat32;
  scan.recoveryMode = RecoveryMode::kDeletedFiles;
  EXPECT_EQ(CheckScanGate(scan), CopyRefusal::kFat32DeletedScanRunning);
  scan.recoveryMode = RecoveryMode::kRecycledFiles;
  EXPECT_EQ(CheckScanGate(scan), CopyRefusal::kFat32DeletedScanRunning);
  scan.partitionFsKind = kFsNtfs;
  OverrideSetting("MustScanEnd", "1");
  EXPECT_EQ(CheckScanGate(scan), CopyRefusal::kScanMustEnd);
  OverrideSetting("MustScanEnd", "0");
  EXPECT_EQ(CheckScanGate(scan), CopyRefusal::kNone);
  EXPECT_EQ(CopyRefusalText(CopyRefusal::kFat32DeletedScanRunning, "恢复"),
            "FAT32分区删除的文件，扫描完后才能恢复，请耐心等待!");
  EXPECT_EQ(CopyRefusalText(CopyRefusal::kFat32DeletedScanRunning, "打开"),
            "FAT32分区删除的文件，扫描完后才能打开，请耐心等待!");
  EXPECT_EQ(CopyRefusalText(CopyRefusal::kScanMustEnd, "恢复"), "扫描完后才能恢复，请耐心等待!");
}

TEST_F(TargetChecks, NothingCheckedStopsBeforeTheDialog) {
  test::MemorySource src(8);
  CopyLedger ledger;
  SaveContext c;
  c.source = &src.rows;
  c.prompt = &prompt_;
  c.ledger = &ledger;
  const SaveRunResult r = RecoverChecked(c, SaveParameters{}, 0, 0);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.refusal, CopyRefusal::kNothingChosen);
  EXPECT_EQ(CopyReportTexts(r, "恢复"), std::vector<std::string>{"请至少选择一个需要恢复的文件或目录!"});
}

// Temporary copies that cannot be deleted (here: folders in their place,
// which unlink refuses even to root) are counted against the limits.
TEST_F(TargetChecks, ElevenLockedTemporaryFilesBlockTenDoNot) {
  const std::string folder = test::TempDir("temp-open");
  CopyLedger ledger;
  for (int i = 0; i < 11; ++i) {
    const std::string path = folder + "/locked" + std::to_string(i);
    fs::create_directory(path);
    ledger.AddTempOpenFile(path, 1000);
  }
  ledger.AddTempOpenFile(folder + "/gone.txt", 5);
  std::ofstream(folder + "/deletable.txt") << "x";
  ledger.AddTempOpenFile(folder + "/deletable.txt", 1);
  EXPECT_FALSE(ledger.CleanTempOpenFiles());
  EXPECT_EQ(ledger.TempOpenFiles().size(), 11u);
  EXPECT_FALSE(fs::exists(folder + "/deletable.txt"));
  fs::remove(folder + "/locked0");
  EXPECT_TRUE(ledger.CleanTempOpenFiles());
  // One locked file of more than 512 MiB blocks as well.
  ledger.ClearTempOpenList();
  ledger.AddTempOpenFile(folder + "/locked1", 0x20000001ull);
  EXPECT_FALSE(ledger.CleanTempOpenFiles());
  EXPECT_EQ(CopyRefusalText(CopyRefusal::kTooManyTempFiles, "打开"), "请关闭刚才打开的临时文件，再打开新的文件！");
}

TEST_F(TargetChecks, QuickOpenWritesIntoTheTemporaryFolder) {
  const std::string home = test::TempDir("quick-open-home");
  SetProgramFolder(home + "/");
  CopyLedger ledger;
  test::MemorySource src(64);
  const std::uint32_t id = src.AddFile(kRootId, "../../evil.txt", 3, 700);
  SaveContext c;
  c.source = &src.rows;
  c.prompt = &prompt_;
  c.ledger = &ledger;
  SaveJob probe;
  src.Prepare(probe, "", nullptr);
  c.opener = probe.opener;
  QuickOpen(c, 0, id);  // the desktop opener may be missing here
  EXPECT_EQ(TempOpenFolder(), home + "/AmbrelTemp");
  const std::string written = home + "/AmbrelTemp/.._.._evil.txt";
  EXPECT_EQ(test::FileText(written), src.Expected(3, 700));
  ASSERT_EQ(ledger.TempOpenFiles().size(), 1u);
  EXPECT_EQ(ledger.TempOpenFiles()[0].path, written);
}

// Two sessions' ledgers: a copy of one leaves the other's figures, folder
// and temporary copies alone.
TEST(CopyLedgers, TwoSessionsShareNothing) {
  CopyLedger first, second;
  first.CountRun(100, 2, false);
  first.SetOutputFolder("/a");
  first.AddTempOpenFile("/tmp/x", 1);
  EXPECT_EQ(second.Statistics().totalFiles, 0u);
  EXPECT_TRUE(second.OutputFolder().empty());
  EXPECT_TRUE(second.TempOpenFiles().empty());
  EXPECT_TRUE(first.BeginRun());
  EXPECT_TRUE(second.BeginRun());
  EXPECT_FALSE(first.BeginRun());
  first.EndRun();
  EXPECT_TRUE(first.BeginRun());
}

TEST(CompletionReport, TextsAndThresholds) {
  EXPECT_EQ(CompletionReportText(3, 1228), "恢复结束！本次恢复3个文件，共计1228(B)数据！");
  EXPECT_EQ(CompletionReportText(3, 1229), "恢复结束！本次恢复3个文件，共计1(KB)数据！");
  EXPECT_EQ(CompletionReportText(1, 1258291), "恢复结束！本次恢复1个文件，共计1228(KB)数据！");
  EXPECT_EQ(CompletionReportText(1, 1258292), "恢复结束！本次恢复1个文件，共计1.20(MB)数据！");
  EXPECT_EQ(CompletionReportText(2, 1288490188), "恢复结束！本次恢复2个文件，共计1228.80(MB)数据！");
  EXPECT_EQ(CompletionReportText(2, 1288490189), "恢复结束！本次恢复2个文件，共计1.20(GB)数据！");
  EXPECT_EQ(ReadErrorReportText(4, false), "恢复文件时，发生了4次读磁盘错误，导致部分文件恢复失败！");
  EXPECT_NE(ReadErrorReportText(4, true).find("\n可能是电脑、读卡器、USB线、USB口等设备接触不良。"),
            std::string::npos);
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// The command line's Ctrl+C: the first interrupt only raises the flag.
TEST(Interrupts, FirstInterruptRaisesTheFlag) {
  CatchInterrupts();
  ClearInterrupt();
  EXPECT_FALSE(InterruptRequested());
  std::raise(SIGINT);
  EXPECT_TRUE(InterruptRequested());
  ClearInterrupt();
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace
}  // namespace ambrel
