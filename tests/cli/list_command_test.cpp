// `ambrel-cli list` run as a user runs it, on the committed fixture images.
#include <gtest/gtest.h>

#include <sstream>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/test_paths.h"

namespace {

struct CliRun {
  int status = -1;
  std::string out;
};

// Stdout with stderr mixed in; `stderrToo` false leaves stderr out (the
// parse progress line, shown once a parse has run a second, goes there).
CliRun RunCli(const std::string& args, bool stderrToo = true) {
  CliRun run;
  const std::string command =
      "TZ=UTC '" + ambrel::test::BinaryDir() + "/cli/ambrel-cli' " + args + (stderrToo ? " 2>&1" : " 2>/dev/null");
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

class ListCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(ambrel::test::BinaryDir() + "/cli/ambrel-cli"))
      GTEST_SKIP() << "ambrel-cli not built";
    image_ = ambrel::test::FixtureImage("ntfs-basic");
    ASSERT_FALSE(image_.empty());
  }
  std::string image_;
};

TEST_F(ListCommand, ListsLiveAndDeletedEntriesWithSizesAndTimes) {
  const CliRun run = RunCli("list '" + image_ + "'");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("NTFS \"AmbrelNTFS\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("live         78        12345  "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Documents/Reports/2023/四月报告.doc\n"), std::string::npos);
  EXPECT_NE(run.out.find("r deleted      84         9000  "), std::string::npos);
  EXPECT_NE(run.out.find("ToDelete/Inner/gone-too.bin\n"), std::string::npos);
  EXPECT_NE(run.out.find("d deleted      72"), std::string::npos) << "the recycle bin";
  EXPECT_EQ(run.out.find("$MFT"), std::string::npos);
  EXPECT_EQ(run.out.find("丢失的文件"), std::string::npos) << "empty lost folder shown";
}

TEST_F(ListCommand, ScopesAndJson) {
  const CliRun deleted = RunCli("list '" + image_ + "' --deleted");
  ASSERT_EQ(deleted.status, 0);
  // The deleted view keeps live folders that hold deleted entries, and a
  // deleted folder whole (the recycle bin counts as one): no other live file.
  std::istringstream lines(deleted.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("r live", 0) == 0) {
      EXPECT_NE(line.find("  回收站/"), std::string::npos) << line;
    }
  }
  EXPECT_NE(deleted.out.find("d live "), std::string::npos);
  EXPECT_NE(deleted.out.find("small.txt"), std::string::npos);
  const CliRun present = RunCli("list '" + image_ + "' --present --partition 1");
  ASSERT_EQ(present.status, 0);
  EXPECT_EQ(present.out.find(" deleted "), std::string::npos);
  EXPECT_NE(present.out.find("empty.txt"), std::string::npos);
  const CliRun json = RunCli("list '" + image_ + "' --json", false);
  ASSERT_EQ(json.status, 0);
  EXPECT_EQ(json.out.rfind("[{\"volume\":1,\"fs\":\"NTFS\",\"label\":\"AmbrelNTFS\"", 0), 0u)
      << json.out.substr(0, 200);
  EXPECT_NE(json.out.find("{\"id\":75,\"path\":\"small.txt\",\"type\":\"file\",\"deleted\":true,"
                          "\"size\":100,"),
            std::string::npos);
}

TEST_F(ListCommand, EveryVolumeOfADiskImageWithItsLabel) {
  const std::string disk = ambrel::test::FixtureImage("disk-mbr");
  ASSERT_FALSE(disk.empty());
  const CliRun run = RunCli("list '" + disk + "'");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("# volume 1: FAT16 \"AMB_FAT16\", start 2048,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("# volume 2: FAT32 \"AMB_FAT32\", start 67584,"), std::string::npos);
  EXPECT_NE(run.out.find("# volume 5: NTFS \"AmbrelNTFS\", start 151552,"), std::string::npos);
  EXPECT_NE(run.out.find("# volume 6: exFAT \"AmbExfat\", start 186368,"), std::string::npos);
}

TEST_F(ListCommand, ClearErrors) {
  const CliRun notFs = RunCli("list '" + ambrel::test::SourceDir() + "/fixtures/make-ntfs.sh'");
  EXPECT_EQ(notFs.status, 1);
  EXPECT_NE(notFs.out.find("volume 1: not NTFS, FAT or exFAT (no boot sector signature at sector 0)"), std::string::npos)
      << notFs.out;
  const CliRun missing = RunCli("list /nonexistent/image.img");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("cannot open"), std::string::npos);
  const CliRun noVolume = RunCli("list '" + image_ + "' --partition 7");
  EXPECT_EQ(noVolume.status, 1);
  EXPECT_NE(noVolume.out.find("no volume 7"), std::string::npos);
  EXPECT_EQ(RunCli("list").status, 2);
}

}  // namespace
