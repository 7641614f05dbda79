// The progress figures: the three elapsed-time forms, the remaining-time
// estimate that never rises by less than 10 %, the speed texts.
#include <gtest/gtest.h>

#include "session/texts.h"

namespace ambrel {
namespace {

std::string Text(std::uint64_t done, std::uint64_t total, std::uint64_t elapsed) {
  std::uint64_t previous = 0;
  return FormatProgress(done, total, elapsed, 0, previous);
}

TEST(ProgressText, ElapsedForms) {
  EXPECT_EQ(Text(0, 0, 0), "");
  EXPECT_EQ(Text(0, 0, 59), "已用时间: 59     ");
  EXPECT_EQ(Text(0, 0, 60), "已用时间: 01:00     ");
  EXPECT_EQ(Text(0, 0, 3599), "已用时间: 59:59     ");
  EXPECT_EQ(Text(0, 0, 3600), "已用时间: 1:00:00     ");
}

TEST(ProgressText, RemainingNeverRisesByLessThanTenPercent) {
  // 100 s at 2048 sectors per second (1 MB/s).
  const std::uint64_t done = 100 * 2048;
  std::uint64_t previous = 1000;
  std::string t = FormatProgress(done, done + 1090 * 2048, 100, 0, previous);
  EXPECT_EQ(previous, 1000u);
  EXPECT_NE(t.find("剩余时间: 16:40"), std::string::npos);
  previous = 1000;
  FormatProgress(done, done + 1100 * 2048, 100, 0, previous);
  EXPECT_EQ(previous, 1100u);
  previous = 1000;
  FormatProgress(done, done + 500 * 2048, 100, 0, previous);
  EXPECT_EQ(previous, 500u);
}

TEST(ProgressText, SpeedAndGigabytesPerMinute) {
  std::string slow = Text(35ull * 2048 * 100, 1ull << 40, 100);
  EXPECT_NE(slow.find("速度: 35(MB)/秒"), std::string::npos);
  EXPECT_EQ(slow.find("GB"), std::string::npos);
  std::string fast = Text(52ull * 2048 * 100, 1ull << 40, 100);
  EXPECT_NE(fast.find("速度: 52(MB)/秒  3(GB)/分钟"), std::string::npos);
}

TEST(ProgressText, BaselineOfAResumedScan) {
  std::uint64_t previous = 0;
  // Nothing read since the resume: only the elapsed time.
  EXPECT_EQ(FormatProgress(5000, 10000, 100, 5000, previous), "已用时间: 01:40     ");
}

}  // namespace
}  // namespace ambrel
