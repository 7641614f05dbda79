// The temporary files of the copy-out (".ambrel-partial-" and six letters
// or digits) that a killed copy left behind: a later run removes those in
// the folders it writes into, and nothing else.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

void Touch(const std::string& path) { std::ofstream(path) << "left over"; }

TEST(PartialLeftovers, OnlyTheExactPatternIsAPartialCopy) {
  EXPECT_TRUE(IsPartialCopyName(".ambrel-partial-AbC123"));
  EXPECT_TRUE(IsPartialCopyName(".ambrel-partial-zzzzzz"));
  EXPECT_FALSE(IsPartialCopyName(".ambrel-partial-abc"));
  EXPECT_FALSE(IsPartialCopyName(".ambrel-partial-ABCDEFG"));
  EXPECT_FALSE(IsPartialCopyName(".ambrel-partial-AB_DEF"));
  EXPECT_FALSE(IsPartialCopyName(".ambrel-partial-AB.DEF"));
  EXPECT_FALSE(IsPartialCopyName(".ambrel-partial-ABCDE\xc3"));
  EXPECT_FALSE(IsPartialCopyName("x.ambrel-partial-ABCDEF"));
  EXPECT_FALSE(IsPartialCopyName("ambrel-partial-ABCDEF"));
  EXPECT_FALSE(IsPartialCopyName(".Ambrel-partial-ABCDEF"));
  EXPECT_FALSE(IsPartialCopyName(""));
}

TEST(PartialLeftovers, RegularUnlockedLeftoversGoAndNothingElse) {
  const std::string dir = test::TempDir("partial-leftovers");
  Touch(dir + "/.ambrel-partial-AbC123");
  Touch(dir + "/.ambrel-partial-zz9zz9");
  const std::vector<std::string> kept = {".ambrel-partial-abc",    ".ambrel-partial-ABCDEFG", "x.ambrel-partial-ABCDEF",
                                         ".ambrel-partial-AB_DEF", "ambrel-partial-ABCDEF",   "photo.jpg",
                                         ".ambrel-partial-AbC123.jpg"};
  for (const std::string& name : kept) Touch(dir + "/" + name);
  // A link of the pattern (and the file it points at), a folder of the
  // pattern, a leftover one folder down: all stay.
  Touch(dir + "/target.bin");
  ASSERT_EQ(::symlink((dir + "/target.bin").c_str(), (dir + "/.ambrel-partial-LINK01").c_str()), 0);
  fs::create_directories(dir + "/.ambrel-partial-DIR001");
  fs::create_directories(dir + "/sub");
  Touch(dir + "/sub/.ambrel-partial-SUB001");
  // A copy in progress holds its temporary file locked: it stays.
  OutputFile running;
  ASSERT_TRUE(running.CreateTemporary(dir));
  const std::string runningName = fs::path(running.TemporaryPath()).filename().string();
  ASSERT_TRUE(IsPartialCopyName(runningName));

  std::vector<std::string> removed = RemovePartialLeftovers(dir);
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<std::string>{".ambrel-partial-AbC123", ".ambrel-partial-zz9zz9"}));
  EXPECT_FALSE(fs::exists(dir + "/.ambrel-partial-AbC123"));
  EXPECT_FALSE(fs::exists(dir + "/.ambrel-partial-zz9zz9"));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir + "/" + name)) << name;
  EXPECT_TRUE(fs::is_symlink(dir + "/.ambrel-partial-LINK01"));
  EXPECT_TRUE(fs::exists(dir + "/target.bin"));
  EXPECT_TRUE(fs::is_directory(dir + "/.ambrel-partial-DIR001"));
  EXPECT_TRUE(fs::exists(dir + "/sub/.ambrel-partial-SUB001"));
  EXPECT_TRUE(fs::exists(dir + "/" + runningName));
  running.Discard();
  EXPECT_FALSE(fs::exists(dir + "/" + runningName));
  EXPECT_TRUE(RemovePartialLeftovers(dir + "/missing").empty());
}

// A file made in an open folder: it is renamed within that folder when its
// new name lies there and through its path otherwise; a discarded one
// leaves nothing; and when the folder's path is made a link to another
// folder meanwhile, the file still lands in the folder that was opened.
TEST(OutputFolder, FilesMadeInAnOpenFolderStayInIt) {
  const std::string dir = test::TempDir("output-folder");
  fs::create_directories(dir + "/a");
  fs::create_directories(dir + "/b");
  OutputFolder folder;
  ASSERT_TRUE(folder.Open(dir + "/a"));
  {
    OutputFile file;
    ASSERT_TRUE(file.CreateTemporary(folder));
    EXPECT_EQ(fs::path(file.TemporaryPath()).parent_path(), fs::path(dir + "/a"));
    ASSERT_TRUE(file.Write("one", 3));
    ASSERT_TRUE(file.CommitAs(dir + "/a/one.txt"));
    EXPECT_TRUE(file.TemporaryPath().empty());
  }
  {
    OutputFile file;
    ASSERT_TRUE(file.CreateTemporary(folder));
    ASSERT_TRUE(file.Write("two", 3));
    ASSERT_TRUE(file.CommitAs(dir + "/b/two.txt"));  // another folder: by path
  }
  {
    OutputFile file;
    ASSERT_TRUE(file.CreateTemporary(folder));
    const std::string temporary = file.TemporaryPath();
    EXPECT_TRUE(fs::exists(temporary));
    file.Discard();
    EXPECT_FALSE(fs::exists(temporary));
  }
  // The folder's path now names a link to b: the open folder is still a.
  fs::rename(dir + "/a", dir + "/a-moved");
  ASSERT_EQ(::symlink((dir + "/b").c_str(), (dir + "/a").c_str()), 0);
  {
    OutputFile file;
    ASSERT_TRUE(file.CreateTemporary(folder));
    ASSERT_TRUE(file.Write("three", 5));
    ASSERT_TRUE(file.CommitAs(dir + "/a/three.txt"));
  }
  EXPECT_TRUE(fs::exists(dir + "/a-moved/one.txt"));
  EXPECT_TRUE(fs::exists(dir + "/a-moved/three.txt"));
  EXPECT_FALSE(fs::exists(dir + "/b/three.txt"));
  EXPECT_TRUE(fs::exists(dir + "/b/two.txt"));
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir + "/a-moved")) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"one.txt", "three.txt"}));
  // A link is not opened as a folder: the copy falls back to the path.
  OutputFolder linked;
  EXPECT_FALSE(linked.Open(dir + "/a"));
  OutputFile file;
  EXPECT_FALSE(file.CreateTemporary(linked));
}

}  // namespace
}  // namespace ambrel
