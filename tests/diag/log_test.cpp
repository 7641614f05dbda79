#include "diag/log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Log, ConcurrentWritersLoseAndSplitNoLine) {
  const std::string path = test::TempDir("log") + "/ambrel.log";
  ASSERT_TRUE(OpenLogFile(path));
  constexpr int kThreads = 6, kLines = 2000;
  // Two processes append to the same file as well as six threads each.
  const pid_t child = fork();
  const std::string who = child == 0 ? "c" : "p";
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([t, &who] {
      for (int i = 0; i < kLines; ++i)
        LogLine(static_cast<LogCode>(t), Format("%s-%d-%d ", who.c_str(), t, i) + std::string(100 + i % 300, 'x'));
    });
  for (auto& w : writers) w.join();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  CloseLogFile();

  const auto lines = FileLines(path);
  ASSERT_EQ(lines.size(), 2u * kThreads * kLines);
  std::set<std::string> seen;
  for (const auto& line : lines) {
    int level = -1, t = -1, i = -1;
    char w = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d\t%c-%d-%d ", &level, &w, &t, &i), 4) << line;
    ASSERT_EQ(level, t);
    ASSERT_EQ(line.size(), line.find(' ') + 1 + 100 + static_cast<std::size_t>(i % 300)) << line;
    seen.insert(line.substr(0, line.find(' ')));
  }
  EXPECT_EQ(seen.size(), lines.size());
}

TEST(Log, LinesAreCutOnCharacterBoundaries) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "中";  // 1200 bytes
  LogLine(LogCode::kCopy, text);
  TraceLine("a\nb");
  const std::string recent = RecentLogText();
  const auto start = recent.rfind("3\t");
  ASSERT_NE(start, std::string::npos);
  const std::string line = recent.substr(start + 2, recent.find('\n', start) - start - 2);
  EXPECT_EQ(line.size(), 1023u);
  EXPECT_EQ(Utf8Length(line), 341u);
  EXPECT_NE(recent.find("-1\ta b\n"), std::string::npos);
}

}  // namespace
}  // namespace ambrel
