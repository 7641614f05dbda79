// The command line of ambrel-cli: options and the path in any order, global
// options after the command, help for each command, and clear refusals of
// unknown options, malformed values and unknown settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/cli_run.h"
#include "support/test_paths.h"

namespace ambrel::test {
namespace {

namespace fs = std::filesystem;

class CliCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BinaryDir() + "/cli/ambrel-cli")) GTEST_SKIP() << "ambrel-cli not built";
    image_ = FixtureImage("disk-mbr");
    ASSERT_FALSE(image_.empty());
  }
  // A refusal: the usage status, one message naming the problem, nothing on stdout.
  void ExpectRefused(const std::string& args, const std::string& mention) {
    const CliOutput r = RunAmbrelCli(args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
    EXPECT_NE(r.err.find(mention), std::string::npos) << args << "\n" << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  std::string image_;
};

TEST_F(CliCommandLine, OptionsAndPathInAnyOrder) {
  const std::string image = Quoted(image_);
  const CliOutput before = RunAmbrelCli("list --json --partition 2 " + image);
  const CliOutput after = RunAmbrelCli("list " + image + " --partition 2 --json");
  const CliOutput equals = RunAmbrelCli("list --partition=2 " + image + " --json");
  ASSERT_EQ(before.status, 0) << before.err;
  EXPECT_EQ(after.status, 0);
  EXPECT_FALSE(before.out.empty());
  EXPECT_EQ(before.out, after.out);
  EXPECT_EQ(before.out, equals.out);
  EXPECT_NE(before.out.find("\"label\":\"AMB_FAT32\""), std::string::npos) << before.out;

  const std::string out1 = TempDir("cli-order-1"), out2 = TempDir("cli-order-2");
  const CliOutput outFirst = RunAmbrelCli("recover --out " + Quoted(out1) + " --partition 1 " + image);
  const CliOutput pathFirst = RunAmbrelCli("recover " + image + " --partition 1 --out " + Quoted(out2));
  EXPECT_EQ(outFirst.status, 0) << outFirst.err;
  EXPECT_EQ(pathFirst.status, 0) << pathFirst.err;
  EXPECT_TRUE(fs::exists(out1 + "/AmbrelRecovered"));
  EXPECT_TRUE(fs::exists(out2 + "/AmbrelRecovered"));
}

TEST_F(CliCommandLine, GlobalOptionsBeforeOrAfterTheCommand) {
  const std::string out1 = TempDir("cli-global-1"), out2 = TempDir("cli-global-2");
  const CliOutput before =
      RunAmbrelCli("--set SaveDir=Before --yes recover " + Quoted(image_) + " --partition 1 --out " + Quoted(out1));
  const CliOutput after =
      RunAmbrelCli("recover " + Quoted(image_) + " --partition 1 --out " + Quoted(out1 + "/x") + " --set SaveDir=After -y");
  EXPECT_EQ(before.status, 0) << before.err;
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_TRUE(fs::is_directory(out1 + "/Before"));
  EXPECT_TRUE(fs::is_directory(out1 + "/x/After"));
  EXPECT_FALSE(fs::exists(out2 + "/AmbrelRecovered"));
}

TEST_F(CliCommandLine, HelpForEveryCommand) {
  for (const char* command : {"startup", "devices", "info", "list", "recover"}) {
    for (const char* flag : {"--help", "-h"}) {
      const CliOutput r = RunAmbrelCli(std::string(command) + " " + flag);
      EXPECT_EQ(r.status, 0) << command << " " << r.err;
      EXPECT_NE(r.out.find("usage: ambrel-cli " + std::string(command)), std::string::npos) << r.out;
    }
  }
  const CliOutput recover = RunAmbrelCli("recover --help");
  for (const char* option : {"--out", "--partition", "--deleted", "--filter", "--overwrite", "--read-errors", "--json"})
    EXPECT_NE(recover.out.find(option), std::string::npos) << option;
  EXPECT_NE(recover.out.find("global options (--pack-dir, --home, --set, --yes) may come before or after"),
            std::string::npos) << recover.out;
  const CliOutput main = RunAmbrelCli("--help");
  EXPECT_EQ(main.status, 0);
  EXPECT_NE(main.out.find("--pack-dir"), std::string::npos);
  EXPECT_NE(main.out.find("ambrel-cli recover PATH --out DIR"), std::string::npos);
  // Help needs no image and writes nothing.
  EXPECT_EQ(RunAmbrelCli("list --help /nonexistent").status, 0);
}

TEST_F(CliCommandLine, UnknownOptionsAndMalformedValues) {
  const std::string image = Quoted(image_);
  const std::string out = Quoted(TempDir("cli-malformed") + "/out");
  ExpectRefused("list " + image + " --bogus", "--bogus");
  ExpectRefused("--bogus list " + image, "--bogus");
  ExpectRefused("list " + image + " --partition 0", "'0' is not a volume number");
  ExpectRefused("list " + image + " --partition -1", "'-1' is not a volume number");
  ExpectRefused("list " + image + " --partition abc", "'abc' is not a volume number");
  ExpectRefused("list " + image + " --partition 2x", "'2x' is not a volume number");
  ExpectRefused("list " + image + " --partition", "--partition");
  ExpectRefused("recover " + image + " --out " + out + " --overwrite maybe", "'maybe' is not one of ask, yes, skip");
  ExpectRefused("recover " + image + " --out " + out + " --read-errors sometimes",
                "'sometimes' is not one of empty, keep, all");
  ExpectRefused("recover " + image, "--out");
  ExpectRefused("recover --out " + out, "PATH");
  ExpectRefused("list " + image + " --deleted --present", "exclude");
  ExpectRefused("info " + image + " " + image, "not expected");
  ExpectRefused("frobnicate", "frobnicate");
  EXPECT_FALSE(fs::exists(TempDir("cli-malformed-check") + "/out"));
}

// --priority takes two sector numbers: a negative value used to wrap to
// 2^64-1 and be echoed so, and an empty range ran as no range at all.
TEST_F(CliCommandLine, PriorityRangeOfSectorNumbersOnly) {
  const std::string image = Quoted(image_);
  ExpectRefused("scan " + image + " --save no --priority -1,10", "'-1' is not a sector number");
  ExpectRefused("scan " + image + " --save no --priority 10,-5", "'-5' is not a sector number");
  ExpectRefused("scan " + image + " --save no --priority 1x,10", "'1x' is not a sector number");
  ExpectRefused("scan " + image + " --save no --priority 0,0", "LENGTH must be at least one sector");
  ExpectRefused("scan " + image + " --save no --priority 100,0", "LENGTH must be at least one sector");
  ExpectRefused("scan " + image + " --save no --priority 5", "--priority");
  const CliOutput echoed = RunAmbrelCli("scan " + image + " --save no --priority -1,10");
  EXPECT_EQ(echoed.err.find("18446744073709551615"), std::string::npos) << echoed.err;
}

TEST_F(CliCommandLine, OnlySettingsOfTheSettingsFileMayBeSet) {
  const std::string image = Quoted(image_);
  ExpectRefused("--set NoSuchKey=1 list " + image, "unknown setting 'NoSuchKey'");
  ExpectRefused("list " + image + " --set savedir=x", "unknown setting 'savedir'");  // keys are exact
  ExpectRefused("--set SaveDir list " + image, "is not KEY=VALUE");
  ExpectRefused("--set =x list " + image, "is not KEY=VALUE");
  const CliOutput known = RunAmbrelCli("--set ShowAllFile=0 --set Key=7 startup");
  EXPECT_EQ(known.status, 0) << known.err;
  EXPECT_NE(known.out.find("ShowAllFile    0"), std::string::npos) << known.out;
}

TEST_F(CliCommandLine, VersionAndBareCommandLine) {
  const CliOutput version = RunAmbrelCli("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("ambrel-cli 6.3.1", 0), 0u) << version.out;
  const CliOutput none = RunAmbrelCli("");
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("usage"), std::string::npos);
}

}  // namespace
}  // namespace ambrel::test
