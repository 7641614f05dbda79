// ambrel-cli recover end to end on the fixture images: every live file and
// every deleted file whose clusters were not reused arrives byte-identical
// at the path the tree gives, and the image is left untouched.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "common/text.h"
#include "recovery/recovery_test_support.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;
  std::string out;
};

CliRun RunCli(const std::string& args, const std::string& tag) {
  const std::string home = test::TempDir("cli-home-" + tag);
  const std::string outPath = home + "/stdout.txt";
  // Other runs (tests side by side) may hold the single-instance guard.
  const std::string cmd = "AMBREL_ALLOW_SECOND_INSTANCE=1 " + test::BinaryDir() + "/cli/ambrel-cli --home '" + home + "' " + args + " >'" + outPath +
                          "' 2>'" + home + "/stderr.txt'";
  const int rc = std::system(cmd.c_str());
  CliRun r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = test::FileText(outPath);
  return r;
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const auto slash = path.find('/', start);
    parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) return parts;
    start = slash + 1;
  }
}

// A listed name against the name written by mkfs/mtools: FAT keeps short
// names upper-case and marks a deleted one with '!' first; the recycle bin
// is listed under its display name.
bool SameComponent(const std::string& listed, const std::string& made) {
  if (made == "$RECYCLE.BIN") return listed == "回收站" || listed == made;
  const std::string a = AsciiUpper(listed), b = AsciiUpper(made);
  if (a == b) return true;
  return !a.empty() && a[0] == '!' && a.size() == b.size() && a.substr(1) == b.substr(1);
}

bool SamePath(const std::string& listed, const std::string& made) {
  const auto a = Split(listed), b = Split(made);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!SameComponent(a[i], b[i])) return false;
  return true;
}

// md5 of every file below a row folder, by relative path.
std::map<std::string, std::string> OutputFiles(const fs::path& row) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(row))
    if (e.is_regular_file()) files[fs::relative(e.path(), row).string()] = test::Md5OfFile(e.path().string());
  return files;
}

class RecoverFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(RecoverFixture, WritesEveryRecoverableFileByteIdentical) {
  const std::string name = GetParam();
  const std::string image = test::FixtureImage(name);
  ASSERT_FALSE(image.empty()) << name;
  const std::string out = test::OtherDeviceFolder("cli-" + name);
  if (out.empty()) GTEST_SKIP() << "no second file system for the target";
  const std::string before = test::Md5OfFile(image);
  const CliRun run = RunCli("recover '" + image + "' --out '" + out + "' --json", name);
  // The only files reported damaged are deleted ones whose clusters a later
  // file took (the manifest marks them gone, or does not list them):
  // overwritten, never counted as recovered.
  const auto manifest = test::LoadManifest(name);
  const nlohmann::json summary = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_TRUE(summary.is_object()) << run.out;
  for (const auto& d : summary["damagedFiles"]) {
    std::string text = d.get<std::string>();
    EXPECT_NE(text.find(": overwritten: "), std::string::npos) << text;
    text = text.substr(0, text.find(": "));
    const std::size_t rowStart = text.find("AmbrelRecovered/") + 16;
    const std::string inRow = text.substr(text.find('/', rowStart) + 1);
    // (ntfs-basic's script does not record the pieces it deletes: its
    // piece7.bin lies where fragmented.bin now starts, as istat shows.)
    bool whole = false;
    for (const auto& m : manifest) whole = whole || (SamePath(inRow, m.path) && m.md5 != "-" && !m.md5.empty());
    EXPECT_FALSE(whole) << inRow << " is reported damaged but the manifest has its data";
  }
  EXPECT_EQ(run.status, summary["damagedFiles"].empty() ? 0 : 1) << run.out;
  EXPECT_NE(run.out.find("\"completed\":true"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"failedFiles\":[]"), std::string::npos) << run.out;
  EXPECT_EQ(test::Md5OfFile(image), before);

  // One row folder per volume, in partition order.
  std::vector<fs::path> rows;
  for (const auto& e : fs::directory_iterator(fs::path(out) / "AmbrelRecovered")) rows.push_back(e.path());
  std::sort(rows.begin(), rows.end());
  std::set<std::string> volumes;
  for (const auto& m : manifest) volumes.insert(m.volume);
  std::vector<std::string> order(volumes.begin(), volumes.end());
  std::sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
    return std::atoi(a.c_str()) < std::atoi(b.c_str());
  });
  ASSERT_EQ(rows.size(), order.size());
  int checked = 0;
  for (std::size_t v = 0; v < order.size(); ++v) {
    const auto files = OutputFiles(rows[v]);
    for (const auto& m : manifest) {
      if (m.volume != order[v] || m.directory || m.md5 == "-" || m.md5.empty()) continue;
      bool found = false;
      for (const auto& [path, md5] : files) found = found || (SamePath(path, m.path) && md5 == m.md5);
      EXPECT_TRUE(found) << name << " volume " << m.volume << ": " << m.path << (m.deleted ? " (deleted)" : "");
      ++checked;
    }
  }
  EXPECT_GT(checked, 5);
  fs::remove_all(out);
}

INSTANTIATE_TEST_SUITE_P(Images, RecoverFixture,
                         ::testing::Values("fat16-basic", "fat32-basic", "exfat-basic", "ntfs-basic", "disk-mbr",
                                           "fat16-default", "fat32-default", "fat12-small", "fat32-s4096",
                                           "ntfs-default", "ntfs-c512", "ntfs-c1024", "exfat-default",
                                           "disk-mbr-default", "disk-gpt-default", "disk-ebr2",
                                           "disk-gpt"),
                         [](const auto& param) {
                           std::string n = param.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

TEST(RecoverCli, SelectionAndRefusals) {
  const std::string image = test::FixtureImage("fat16-basic");
  ASSERT_FALSE(image.empty());
  // A target on the file system that holds the image is allowed: writing
  // beside an image cannot change it.
  const std::string beside = test::TempDir("cli-beside");
  const std::string before = test::Md5OfFile(image);
  CliRun same = RunCli("recover '" + image + "' --present --out '" + beside + "' --json", "beside");
  EXPECT_EQ(same.status, 0) << same.out;
  EXPECT_EQ(same.out.find("请选择其他分区里的目录"), std::string::npos) << same.out;
  EXPECT_FALSE(fs::is_empty(beside));
  EXPECT_EQ(test::Md5OfFile(image), before);

  const std::string out = test::OtherDeviceFolder("cli-selection");
  if (out.empty()) GTEST_SKIP() << "no second file system for the target";
  CliRun deleted = RunCli("recover '" + image + "' --out '" + out + "' --deleted --filter 'gone 已删除' --json", "deleted");
  EXPECT_EQ(deleted.status, 0) << deleted.out;
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(out))
    if (e.is_regular_file()) names.insert(e.path().filename().string());
  // "gone.txt" is listed by its short name "!ONE.TXT", which the keywords miss.
  EXPECT_EQ(names, (std::set<std::string>{"已删除的文件.txt", "deep gone.txt"}));
  EXPECT_NE(deleted.out.find("\"files\":2,"), std::string::npos) << deleted.out;

  // Existing files under --overwrite skip stay as they are.
  CliRun again = RunCli("recover '" + image + "' --out '" + out + "' --deleted --filter 'gone 已删除' --overwrite skip",
                        "again");
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find("恢复结束！本次恢复2个文件"), std::string::npos) << again.out;

  CliRun bad = RunCli("recover '" + image + "' --out '" + out + "' --read-errors sometimes", "bad");
  EXPECT_EQ(bad.status, 2);
  fs::remove_all(out);
}

}  // namespace
}  // namespace ambrel
