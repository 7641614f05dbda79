// ambrel-cli list on the FAT16, FAT32 and exFAT fixtures: the whole listing,
// the deleted and present views and the recycle-bin view.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_paths.h"

namespace ambrel {
namespace {

struct Output {
  int status = -1;
  std::string out, err;
};

Output List(const std::string& image, const std::string& options) {
  static const std::string dir = test::TempDir("cli-list-fat");
  std::string cli = test::BinaryDir() + "/cli/ambrel-cli";
  std::string command = "timeout 60 '" + cli + "' list '" + image + "' " + options + " >" + dir + "/out 2>" + dir +
                        "/err </dev/null";
  Output r;
  int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  for (auto [file, text] : {std::pair{"/out", &r.out}, std::pair{"/err", &r.err}}) {
    std::ifstream in(dir + file);
    std::stringstream s;
    s << in.rdbuf();
    *text = s.str();
  }
  return r;
}

bool Lists(const Output& r, const std::string& path) {
  return r.out.find("  " + path + "\n") != std::string::npos;
}

TEST(CliListFat, ViewsOfTheFat16Fixture) {
  std::string image = test::FixtureImage("fat16-basic");
  ASSERT_FALSE(image.empty());
  Output all = List(image, "");
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out.find("FAT16"), std::string::npos);
  EXPECT_TRUE(Lists(all, "docs/reports/2023 年度/总结报告.txt"));
  EXPECT_TRUE(Lists(all, "!rash/!nner/deep gone.txt"));

  Output deleted = List(image, "--deleted");
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_TRUE(Lists(deleted, "!OO.TXT"));
  EXPECT_TRUE(Lists(deleted, "old/deleted three piece name.txt"));
  EXPECT_TRUE(Lists(deleted, "回收站/S-1-5-21-1004/$RA1B2C3.txt"));  // the bin counts as deleted
  EXPECT_FALSE(Lists(deleted, "old/kept.txt"));
  EXPECT_FALSE(Lists(deleted, "docs/readme.txt"));

  Output present = List(image, "--present");
  ASSERT_EQ(present.status, 0) << present.err;
  EXPECT_TRUE(Lists(present, "old/kept.txt"));
  EXPECT_FALSE(Lists(present, "!OO.TXT"));
  EXPECT_FALSE(Lists(present, "回收站"));

  Output bin = List(image, "--recycle");
  ASSERT_EQ(bin.status, 0) << bin.err;
  EXPECT_TRUE(Lists(bin, "回收站/S-1-5-21-1004/$IA1B2C3.txt"));
  EXPECT_FALSE(Lists(bin, "old/kept.txt"));
}

TEST(CliListFat, Fat32AndExfatVolumes) {
  Output fat32 = List(test::FixtureImage("fat32-basic"), "--json");
  ASSERT_EQ(fat32.status, 0) << fat32.err;
  EXPECT_NE(fat32.out.find("\"fs\":\"FAT32\""), std::string::npos);
  EXPECT_NE(fat32.out.find("\"path\":\"FILLER.BIN\""), std::string::npos);

  Output exfat = List(test::FixtureImage("exfat-basic"), "");
  ASSERT_EQ(exfat.status, 0) << exfat.err;
  EXPECT_NE(exfat.out.find("exFAT \"EXFATTEST\""), std::string::npos);
  EXPECT_TRUE(Lists(exfat, "trash/inner/deep gone.txt"));
  Output noBin = List(test::FixtureImage("exfat-basic"), "--recycle");
  EXPECT_NE(noBin.err.find("no recycle bin"), std::string::npos);
}

}  // namespace
}  // namespace ambrel
