#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "diag/crash_dump.h"
#include "diag/log.h"
#include "platform/codepage.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/machine_store.h"
#include "platform/md5.h"
#include "platform/single_instance.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

TEST(Md5, KnownDigestsInUpperCase) {
  EXPECT_EQ(Md5Hex("", 0), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(Md5Hex("abc", 3), "900150983CD24FB0D6963F7D28E17F72");
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(Md5Hex(fox.data(), fox.size()), "9E107D9D372BB6826BD81D3542A419D6");
}

TEST(CodePage, GbkIsTheDefaultAndRoundTrips) {
  EXPECT_EQ(AnsiCodePage(), "GBK");
  const std::string gbk = ToAnsi("中文abc");
  EXPECT_EQ(gbk, std::string("\xD6\xD0\xCE\xC4" "abc"));
  EXPECT_EQ(ToWide(gbk), "中文abc");
  // A character GBK lacks, and a cut double-byte character.
  EXPECT_EQ(ToAnsi("a\xF0\x9F\x98\x80" "b"), "a?b");
  EXPECT_EQ(ToWide("ab\xD6"), "ab\xEF\xBF\xBD");
  EXPECT_EQ(ToWideFrom("\x80", "CP1252"), "\xE2\x82\xAC");
  EXPECT_FALSE(SetAnsiCodePage("NO-SUCH-PAGE"));
  EXPECT_EQ(AnsiCodePage(), "GBK");
}

TEST(Files, EnsureFolderMakesParentsAndReadsBack) {
  const std::string dir = test::TempDir("files");
  const std::string deep = dir + "/a/b/c";
  EXPECT_TRUE(EnsureFolder(deep));
  EXPECT_TRUE(EnsureFolder(deep));
  EXPECT_TRUE(FolderExists(deep));
  ASSERT_TRUE(WriteWholeFile(deep + "/f", "xyz", 3));
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(deep + "/f", bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "xyz");
  EXPECT_FALSE(ReadWholeFile(deep + "/f", bytes, 2));  // over the cap
  EXPECT_FALSE(ReadWholeFile(deep + "/missing", bytes));
  EXPECT_FALSE(EnsureFolder(deep + "/f/sub"));  // a file is in the way
  EXPECT_EQ(ExecutableFolder().back(), '/');
  EXPECT_EQ(ProgramFolder().back(), '/');
}

TEST(MachineStore, KeyIsOpenedNeverCreated) {
  const std::string root = test::TempDir("store");
  SetMachineStoreRoot(root);
  const std::string key = "SOFTWARE\\Acme\\Ambrel";
  std::string value;
  EXPECT_FALSE(StoreKeyExists(key));
  EXPECT_FALSE(StoreWriteValue(key, "RunNum", "1"));
  EXPECT_FALSE(StoreReadValue(key, "RunNum", value));
  EXPECT_FALSE(FolderExists(root + "/SOFTWARE"));

  ASSERT_TRUE(EnsureFolder(root + "/SOFTWARE/Acme/Ambrel"));
  EXPECT_TRUE(StoreKeyExists(key));
  EXPECT_FALSE(StoreReadValue(key, "RunNum", value));
  EXPECT_TRUE(StoreWriteValue(key, "RunNum", "5"));
  ASSERT_TRUE(StoreReadValue(key, "RunNum", value));
  EXPECT_EQ(value, "5");
  EXPECT_TRUE(StoreWriteValue(key, "RunNum", "6"));
  ASSERT_TRUE(StoreReadValue(key, "RunNum", value));
  EXPECT_EQ(value, "6");
  // Values above the read size are refused; paths cannot leave the root.
  EXPECT_TRUE(StoreWriteValue(key, "Detail", std::string(300, 'a')));
  EXPECT_FALSE(StoreReadValue(key, "Detail", value));
  EXPECT_FALSE(StoreKeyExists("SOFTWARE\\..\\SOFTWARE\\Acme\\Ambrel"));
  EXPECT_FALSE(StoreWriteValue(key, "../escape", "x"));
  EXPECT_FALSE(StoreKeyExists("SOFTWARE\\\\Acme"));
}

int ChildAcquires(const std::string& name) {
  const pid_t pid = fork();
  if (pid == 0) {
    SingleInstanceGuard guard;
    const auto r = guard.Acquire(name);
    _exit(r == SingleInstanceGuard::Result::kAcquired ? 0
          : r == SingleInstanceGuard::Result::kAlreadyRunning ? 3 : 4);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SingleInstance, SecondProcessIsRefusedUntilTheFirstEnds) {
  const std::string name = "AmbrelTest-" + std::to_string(getpid());
  {
    SingleInstanceGuard first;
    ASSERT_EQ(first.Acquire(name), SingleInstanceGuard::Result::kAcquired);
    EXPECT_EQ(ChildAcquires(name), 3);
    SingleInstanceGuard second;  // in the same process too
    EXPECT_EQ(second.Acquire(name), SingleInstanceGuard::Result::kAlreadyRunning);
  }
  EXPECT_EQ(ChildAcquires(name), 0);

  // A holder that is killed leaves no lock behind.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    SingleInstanceGuard guard;
    guard.Acquire(name);
    char c = 1;
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(ChildAcquires(name), 3);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(ChildAcquires(name), 0);
  close(ready[0]);
  close(ready[1]);
  RemoveFile(SingleInstanceGuard::LockPath(name));
}

TEST(CrashHandler, FatalSignalLeavesMarkerDumpAndLogLine) {
  const std::string dir = test::TempDir("crash");
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    SetProgramFolder(dir);
    OpenLogFile(dir + "/ambrel.log");
    InstallCrashHandler();
    raise(SIGSEGV);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  EXPECT_TRUE(FileExists(dir + "/" + kCrashEventName));
  std::vector<std::uint8_t> log;
  ASSERT_TRUE(ReadWholeFile(dir + "/ambrel.log", log));
  EXPECT_NE(std::string(log.begin(), log.end()).find("27\tExit exception\n"), std::string::npos);
  // The dump is named from the build and the local day, hour and minute.
  bool found = false;
  for (int back = 0; back < 2 && !found; ++back) {
    time_t t = time(nullptr) - back * 60;
    struct tm tm {};
    localtime_r(&t, &tm);
    const std::string path = dir + "/" + CrashDumpName(tm.tm_mday, tm.tm_hour, tm.tm_min);
    std::vector<std::uint8_t> dump;
    if (ReadWholeFile(path, dump)) {
      found = true;
      EXPECT_NE(std::string(dump.begin(), dump.end()).find("signal 11"), std::string::npos);
    }
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(CrashDumpName(8, 7, 5), "3779_080705.dmp");
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

TEST(Desktop, OpenerGetsTheTarget) {
  const std::string dir = test::TempDir("opener");
  const std::string script = "#!/bin/sh\nprintf '%s' \"$1\" > " + dir + "/opened.tmp && mv " + dir +
                             "/opened.tmp " + dir + "/opened\n";
  ASSERT_TRUE(WriteWholeFile(dir + "/xdg-open", script.data(), script.size()));
  ASSERT_EQ(chmod((dir + "/xdg-open").c_str(), 0755), 0);
  const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (dir + ":" + oldPath).c_str(), 1);
  const bool started = OpenWithDesktop("/some folder/file name.txt");
  setenv("PATH", oldPath.c_str(), 1);
  ASSERT_TRUE(started);
  // The opener runs on its own; wait for its answer (generously).
  for (int i = 0; i < 1000 && !FileExists(dir + "/opened"); ++i) usleep(10000);
  std::vector<std::uint8_t> got;
  ASSERT_TRUE(ReadWholeFile(dir + "/opened", got));
  EXPECT_EQ(std::string(got.begin(), got.end()), "/some folder/file name.txt");
  EXPECT_FALSE(OpenWithDesktop(""));
}

}  // namespace
}  // namespace ambrel
