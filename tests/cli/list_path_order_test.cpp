// ambrel-cli list orders its entries by their whole path, byte by byte, as
// it always did: a folder's entries come after the names that extend the
// folder's name with a byte below '/' ("a b.txt", "a-b.txt", "a.txt") and
// before those with a byte above it ("a0"), at every depth.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_run.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

// The "path" values of a --json listing, in their order.
std::vector<std::string> JsonPaths(const std::string& json) {
  std::vector<std::string> paths;
  const std::string key = "\"path\":\"";
  for (std::size_t at = json.find(key); at != std::string::npos; at = json.find(key, at)) {
    at += key.size();
    const std::size_t end = json.find('"', at);
    if (end == std::string::npos) break;
    paths.push_back(json.substr(at, end - at));
    at = end;
  }
  return paths;
}

TEST(ListPathOrder, WholePathsInByteOrderAtEveryDepth) {
  if (!test::HaveTool("mkfs.vfat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "dosfstools or mtools missing";
  const std::string dir = test::TempDir("list-path-order");
  const std::string image = dir + "/order.img";
  const std::string m = "MTOOLS_SKIP_CHECK=1 ";
  const std::string in = " -i " + test::Quoted(image) + " ";
  ASSERT_TRUE(test::Shell("truncate -s 40M " + test::Quoted(image) + " && mkfs.vfat -F 32 " +
                          test::Quoted(image) + " >/dev/null"));
  ASSERT_TRUE(test::Shell("printf x > " + test::Quoted(dir + "/x")));
  for (const char* folder : {"a", "a/sub", "a/sub/deep", "a0", "b"})
    ASSERT_TRUE(test::Shell(m + "mmd" + in + test::Quoted(std::string("::/") + folder))) << folder;
  for (const char* file : {"a b.txt", "a-b.txt", "a.txt", "a/b.txt", "a/sub/c.txt", "a/sub/deep/e.txt",
                           "a/sub.txt", "a0/z", "b/a", "B.TXT"})
    ASSERT_TRUE(test::Shell(m + "mcopy" + in + test::Quoted(dir + "/x") + " " +
                            test::Quoted(std::string("::/") + file)))
        << file;

  const test::CliOutput listed = test::RunAmbrelCli("list --json " + test::Quoted(image));
  ASSERT_EQ(listed.status, 0) << listed.err;
  const std::vector<std::string> paths = JsonPaths(listed.out);
  const std::vector<std::string> want = {"B.TXT",   "a",           "a b.txt",     "a-b.txt",    "a.txt",
                                         "a/b.txt", "a/sub",       "a/sub.txt",   "a/sub/c.txt", "a/sub/deep",
                                         "a/sub/deep/e.txt",       "a0",          "a0/z",        "b",
                                         "b/a"};
  EXPECT_EQ(paths, want);
  EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));

  // The text listing names the same paths in the same order.
  const test::CliOutput text = test::RunAmbrelCli("list " + test::Quoted(image));
  ASSERT_EQ(text.status, 0) << text.err;
  std::size_t from = 0;
  for (const std::string& path : want) {
    const std::size_t at = text.out.find("  " + path + "\n", from);
    ASSERT_NE(at, std::string::npos) << path;
    from = at + path.size();
  }
}

// A volume of more entries than the text listing makes in one block: the
// blocks, made by two threads, come out whole and in order, each entry once.
TEST(ListPathOrder, ManyBlocksKeepTheOrderOfTheJsonListing) {
  if (!test::HaveTool("mkfs.vfat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "dosfstools or mtools missing";
  const std::string dir = test::TempDir("list-many-blocks");
  const std::string image = dir + "/many.img";
  ASSERT_TRUE(test::Shell("mkdir -p " + test::Quoted(dir + "/top/sub") + " && cd " + test::Quoted(dir + "/top") +
                          " && for i in $(seq 1 3100); do printf x > f$i.txt; printf y > sub/g$i.dat; done"));
  ASSERT_TRUE(test::Shell("truncate -s 64M " + test::Quoted(image) + " && mkfs.vfat -F 32 " + test::Quoted(image) +
                          " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -s -i " + test::Quoted(image) + " " +
                          test::Quoted(dir + "/top") + " ::/"));
  const test::CliOutput listed = test::RunAmbrelCli("list --json " + test::Quoted(image));
  ASSERT_EQ(listed.status, 0) << listed.err;
  const std::vector<std::string> want = JsonPaths(listed.out);
  ASSERT_EQ(want.size(), 6202u);  // top, top/sub and the files
  const test::CliOutput text = test::RunAmbrelCli("list " + test::Quoted(image));
  ASSERT_EQ(text.status, 0) << text.err;
  std::vector<std::string> paths;
  std::size_t lineStart = 0;
  while (lineStart < text.out.size()) {
    std::size_t end = text.out.find('\n', lineStart);
    if (end == std::string::npos) end = text.out.size();
    const std::string line = text.out.substr(lineStart, end - lineStart);
    lineStart = end + 1;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t gap = line.rfind("  ");
    ASSERT_NE(gap, std::string::npos) << line;
    paths.push_back(line.substr(gap + 2));
  }
  EXPECT_EQ(paths, want);
}

}  // namespace
}  // namespace ambrel
