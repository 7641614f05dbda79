#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "platform/local_time.h"

namespace ambrel {
namespace {

// Sets TZ for the test's life and restores the one before.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* before = std::getenv("TZ")) saved_ = before, had_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had_) setenv("TZ", saved_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

::testing::AssertionResult SameAsLibrary(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  CivilTime mine;
  const bool theirs = localtime_r(&t, &parts) != nullptr;
  const bool ours = UtcSecondsToLocal(seconds, mine);
  if (theirs != ours) return ::testing::AssertionFailure() << seconds << ": library " << theirs;
  if (!theirs) return ::testing::AssertionSuccess();
  if (mine.year != parts.tm_year + 1900 || mine.month != parts.tm_mon + 1 || mine.day != parts.tm_mday ||
      mine.hour != parts.tm_hour || mine.minute != parts.tm_min || mine.second != parts.tm_sec)
    return ::testing::AssertionFailure()
           << seconds << ": " << mine.year << "-" << mine.month << "-" << mine.day << " " << mine.hour << ":"
           << mine.minute << ":" << mine.second << " against " << parts.tm_year + 1900 << "-" << parts.tm_mon + 1
           << "-" << parts.tm_mday << " " << parts.tm_hour << ":" << parts.tm_min << ":" << parts.tm_sec;
  return ::testing::AssertionSuccess();
}

// The conversion keeps an offset per quarter hour; it must give what the C
// library gives for every instant, across daylight-saving changes, half-
// and quarter-hour zones, zones that count leap seconds, and dates from
// NTFS's 1601 to far ahead, also when TZ changes between calls.
TEST(LocalTime, EveryInstantAsTheCLibraryGivesIt) {
  const char* zones[] = {"UTC", "Asia/Shanghai", "America/New_York", "Europe/London", "Australia/Lord_Howe",
                         "Asia/Kathmandu", "America/St_Johns", "right/UTC", "right/Europe/Berlin",
                         "EST5EDT,M3.2.0,M11.1.0", "Pacific/Apia"};
  std::mt19937_64 random(7);
  for (const char* zone : zones) {
    SCOPED_TRACE(zone);
    ZoneScope scope(zone);
    int failures = 0;
    // Every minute and some odd seconds through 2021, which holds each
    // zone's changes of that year.
    for (std::int64_t s = 1609459200 - 86400; s < 1640995200 + 86400 && failures < 5; s += 59)
      if (!SameAsLibrary(s)) ADD_FAILURE() << SameAsLibrary(s).message(), ++failures;
    // A leap second's neighbourhood (2016-12-31 23:59:60 UTC).
    for (std::int64_t s = 1483228800 - 5; s < 1483228800 + 5; ++s) EXPECT_TRUE(SameAsLibrary(s));
    // Anywhere from 1601 to 2400.
    std::uniform_int_distribution<std::int64_t> any(-11644473600, 13569465600);
    for (int i = 0; i < 20000 && failures < 5; ++i) {
      const std::int64_t s = any(random);
      if (!SameAsLibrary(s)) ADD_FAILURE() << SameAsLibrary(s).message(), ++failures;
    }
  }
}

}  // namespace
}  // namespace ambrel
