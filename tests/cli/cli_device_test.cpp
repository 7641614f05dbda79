// ambrel-cli info and devices run as a user would: the built binary, its
// exit status, its stdout and stderr. Bad inputs give one line on stderr
// and a non-zero status; nothing is ever written to the input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_paths.h"

namespace ambrel {
namespace {

struct CliResult {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

CliResult RunCli(const std::string& args) {
  static const std::string dir = test::TempDir("cli-run");
  std::string cli = test::BinaryDir() + "/cli/ambrel-cli";
  EXPECT_TRUE(std::filesystem::exists(cli)) << "build ambrel-cli first";
  std::string command = "timeout 60 '" + cli + "' " + args + " >" + dir + "/out 2>" + dir + "/err </dev/null";
  CliResult r;
  int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = Slurp(dir + "/out");
  r.err = Slurp(dir + "/err");
  return r;
}

int Lines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

void ExpectOneErrorLine(const CliResult& r, const std::string& mention) {
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST(CliInfo, BadInputsGiveOneLineAndFail) {
  std::string dir = test::TempDir("cli-info");
  ExpectOneErrorLine(RunCli("info " + dir + "/missing.img"), "no such file");
  ExpectOneErrorLine(RunCli("info " + dir), "is a directory");
  std::ofstream(dir + "/empty.img").close();
  ExpectOneErrorLine(RunCli("info " + dir + "/empty.img"), "empty");
  std::ofstream(dir + "/tiny.img") << std::string(100, 'x');
  ExpectOneErrorLine(RunCli("info " + dir + "/tiny.img"), "smaller than one sector");
  ExpectOneErrorLine(RunCli("info /dev/null"), "not a disk");
  ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
  ExpectOneErrorLine(RunCli("info " + dir + "/fifo"), "not a disk");  // never blocks
  if (::geteuid() != 0) {
    std::ofstream(dir + "/locked.img") << std::string(4096, 'x');
    ::chmod((dir + "/locked.img").c_str(), 0);
    ExpectOneErrorLine(RunCli("info " + dir + "/locked.img"), "permission denied");
  }
  CliResult usage = RunCli("info");
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("usage"), std::string::npos);
  EXPECT_EQ(RunCli("info a b").status, 2);
}

TEST(CliInfo, DescribesFixtureDisksWithoutWritingToThem) {
  std::string image = test::FixtureImage("disk-mbr");
  struct stat before {};
  ASSERT_EQ(::stat(image.c_str(), &before), 0);
  std::string content = Slurp(image);

  CliResult text = RunCli("info " + image);
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("partition table: mbr"), std::string::npos);
  EXPECT_NE(text.out.find("sectors: 212992"), std::string::npos);
  EXPECT_NE(text.out.find("volumes: 4"), std::string::npos);
  EXPECT_NE(text.out.find("AmbrelNTFS (disk-mbr.img#5: NTFS)"), std::string::npos);

  CliResult json = RunCli("info --json " + image);
  EXPECT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"partitionTable\":\"mbr\""), std::string::npos);
  EXPECT_NE(json.out.find("\"start\":186368,\"sectors\":16384"), std::string::npos);
  EXPECT_NE(json.out.find("\"kindName\":\"exFAT\""), std::string::npos);

  CliResult gpt = RunCli("info --json " + test::FixtureImage("disk-gpt"));
  EXPECT_NE(gpt.out.find("\"partitionTable\":\"gpt\""), std::string::npos);
  EXPECT_NE(gpt.out.find("\"label\":\"本地磁盘\""), std::string::npos);

  struct stat after {};
  ASSERT_EQ(::stat(image.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_TRUE(Slurp(image) == content);
}

TEST(CliDevices, ListsOrExplainsWhyNot) {
  CliResult r = RunCli("devices --json");
  if (r.status == 0) {
    EXPECT_EQ(r.out.rfind("{\"disks\":[", 0), 0u) << r.out;
  } else {
    ExpectOneErrorLine(r, "no disk");
  }
  EXPECT_EQ(RunCli("devices --bogus").status, 2);
}

}  // namespace
}  // namespace ambrel
