#include "session/worded_prompt.h"
#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/pack_builder.h"
#include "app/settings.h"
#include "app/user_prompt.h"
#include "common/text.h"
#include "diag/log.h"
#include "platform/files.h"
#include "platform/machine_store.h"
#include "platform/single_instance.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

class RecordingPrompt final : public WordedPrompt {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string&) override { return false; }
  std::vector<std::string> messages;
};

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::TempDir("registry");
    SetMachineStoreRoot(root_);
    folder_ = test::TempDir("startup-pack");
    check_ = test::WritePack(folder_, {"Brand:Acme", "Version:V7", "Owner:AcmeOwner"},
                             {{"Acme/VerCfg.txt",
                               test::Utf16File({"Default-Company: AcmeSoft",
                                                "Default-LocalName: AcmeRecovery",
                                                "Default-SingleRunStr: AcmeGuard-" +
                                                    std::to_string(getpid()),
                                                "Default-Splash: 1"})}});
    ASSERT_TRUE(LoadSettings(folder_, check_));
    keyFolder_ = root_ + "/SOFTWARE/AcmeSoft/AcmeRecovery";
  }
  void MakeKey() { ASSERT_TRUE(EnsureFolder(keyFolder_)); }
  void Put(const std::string& name, const std::string& value) {
    ASSERT_TRUE(WriteWholeFile(keyFolder_ + "/" + name, value.data(), value.size()));
  }
  std::string Get(const std::string& name) {
    std::string v;
    StoreReadValue(RegistryKeyPath(), name, v);
    return v;
  }
  std::string root_, folder_, keyFolder_;
  PackCheck check_;
};

TEST_F(StoreTest, RunCounterSteps) {
  EXPECT_EQ(RegistryKeyPath(), "SOFTWARE\\AcmeSoft\\AcmeRecovery");
  // No key: every run is run 1 and nothing is created.
  EXPECT_EQ(GetRunNumber(), 1);
  EXPECT_EQ(GetRunNumber(), 1);
  EXPECT_FALSE(FolderExists(root_ + "/SOFTWARE"));
  MakeKey();
  EXPECT_EQ(GetRunNumber(), 1);  // value absent
  EXPECT_EQ(Get("RunNum"), "1");
  EXPECT_EQ(GetRunNumber(), 2);  // "1" read means the second run
  EXPECT_EQ(Get("RunNum"), "2");
  Put("RunNum", "}");
  EXPECT_EQ(GetRunNumber(), '}' - 47);
  EXPECT_EQ(Get("RunNum"), "~");
  EXPECT_EQ(GetRunNumber(), 79);
  EXPECT_EQ(Get("RunNum"), "~");
  Put("RunNum", "");
  EXPECT_EQ(GetRunNumber(), 1);
  EXPECT_EQ(Get("RunNum"), "1");
}

TEST_F(StoreTest, DetailAndImprovementFlag) {
  EXPECT_EQ(ReadDetail(), "0");
  EXPECT_FALSE(ReadJoinImproveSoft());
  MakeKey();
  EXPECT_EQ(ReadDetail(), "0");
  Put("Detail", "a0Bz0");
  EXPECT_EQ(ReadDetail(), "a0Bz0");
  Put("Detail", "ab1");
  EXPECT_EQ(ReadDetail(), "0");
  Put("Detail", "");
  EXPECT_EQ(ReadDetail(), "0");
  Put("Detail", "a-b");
  EXPECT_EQ(ReadDetail(), "0");
  EXPECT_EQ(ValidateDetail("x9"), "0");
  EXPECT_EQ(ValidateDetail("X00"), "X00");
  Put("JoinImproveSoft", "1yes");
  EXPECT_TRUE(ReadJoinImproveSoft());
  Put("JoinImproveSoft", "0");
  EXPECT_FALSE(ReadJoinImproveSoft());
  EXPECT_EQ(IdentityString("a0"), "AcmeOwner-V7-a0");
}

TEST_F(StoreTest, StartupRunsGuardsAndLogs) {
  MakeKey();
  Put("Detail", "beta");
  Put("RunNum", "4");
  RecordingPrompt prompt;
  StartupOptions options;
  options.packFolder = folder_;
  options.logFolder = test::TempDir("startup-log");
  options.packCheck = check_;
  options.prompt = &prompt;
  ASSERT_EQ(RunStartup(options), StartupStatus::kReady);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(App().runNumber, 5);
  EXPECT_EQ(App().detail, "beta");
  EXPECT_TRUE(App().showSplash);
  const std::string line = App().startupLine;
  EXPECT_EQ(line.rfind("1 5 AcmeOwner-V7-beta ver: 6.3.1     Svn ver: 3779     OS: ", 0), 0u) << line;
  EXPECT_NE(line.find("AllMem: "), std::string::npos);
  std::vector<std::uint8_t> log;
  ASSERT_TRUE(ReadWholeFile(options.logFolder + "/" + kLogFileName, log));
  EXPECT_NE(std::string(log.begin(), log.end()).find("0\t" + line + "\n"), std::string::npos);

  // A second start while the first holds the guard.
  ASSERT_EQ(RunStartup(options), StartupStatus::kAlreadyRunning);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], "已经有一个软件运行了!");
  ShutdownApp(100);
  EXPECT_EQ(RunStartup(options), StartupStatus::kReady);
  ShutdownApp(100);

  options.packCheck = PackCheck{check_.size, std::string(32, 'F')};
  EXPECT_EQ(RunStartup(options), StartupStatus::kSettingsError);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[1], PromptText({PromptId::kSettingsError}));
  EXPECT_NE(RecentLogText().find("1\tGet soft param error!"), std::string::npos);
  SetUserPrompt(nullptr);
}

// The command-line front end, run as a separate process.
struct CliResult {
  int status = -1;
  std::string err;
};

CliResult RunCli(const std::string& args) {
  const std::string errPath = test::TempDir("cli-err") + "/err.txt";
  const std::string cmd = "env -u AMBREL_ALLOW_SECOND_INSTANCE " + test::BinaryDir() +
                          "/cli/ambrel-cli " + args + " >/dev/null 2>" + errPath;
  CliResult r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::vector<std::uint8_t> err;
  ReadWholeFile(errPath, err);
  r.err.assign(err.begin(), err.end());
  return r;
}

TEST(CliStartup, AlteredPackAndSecondInstanceEndTheRun) {
  const std::string home = test::TempDir("cli-home");
  const std::string pack = test::TempDir("cli-pack");
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(test::BinaryDir() + "/cli/Base.dat", bytes));
  ASSERT_TRUE(WriteWholeFile(pack + "/Base.dat", bytes.data(), bytes.size()));
  ASSERT_TRUE(ReadWholeFile(test::BinaryDir() + "/cli/Recovery.dat", bytes));
  ASSERT_TRUE(WriteWholeFile(pack + "/Recovery.dat", bytes.data(), bytes.size()));
  const std::string guard = "AmbrelCliTest-" + std::to_string(getpid());
  const std::string common = "--home " + home + " --pack-dir " + pack + " --set SingleRunStr=" + guard;

  EXPECT_EQ(RunCli("--version").status, 0);
  CliResult ok = RunCli(common + " startup");
  EXPECT_EQ(ok.status, 0) << ok.err;

  SingleInstanceGuard holder;
  ASSERT_EQ(holder.Acquire(guard), SingleInstanceGuard::Result::kAcquired);
  CliResult second = RunCli(common + " startup");
  EXPECT_NE(second.status, 0);
  EXPECT_EQ(second.err, "已经有一个软件运行了!\n");
  holder.Release();

  bytes[bytes.size() / 3] ^= 0x20;
  ASSERT_TRUE(WriteWholeFile(pack + "/Recovery.dat", bytes.data(), bytes.size()));
  CliResult altered = RunCli(common + " startup");
  EXPECT_NE(altered.status, 0);
  EXPECT_EQ(altered.err, "抱歉，获取软件配置参数失败！\n");
  RemoveFile(pack + "/Recovery.dat");
  CliResult missing = RunCli(common + " startup");
  EXPECT_NE(missing.status, 0);
  EXPECT_EQ(missing.err, "抱歉，获取软件配置参数失败！\n");
  EXPECT_TRUE(FileExists(home + "/" + kLogFileName));
}

}  // namespace
}  // namespace ambrel
