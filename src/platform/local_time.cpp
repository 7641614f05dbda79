#include "platform/local_time.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace ambrel {

namespace {

// Civil date of a day count from 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

void Shifted(std::int64_t unixSeconds, long offset, CivilTime& out) {
  const std::int64_t local = unixSeconds + offset;
  const std::int64_t days = (local >= 0 ? local : local - 86399) / 86400;
  const std::int64_t inDay = local - days * 86400;
  CivilFromDays(days, out.year, out.month, out.day);
  out.hour = static_cast<int>(inDay / 3600);
  out.minute = static_cast<int>(inDay / 60 % 60);
  out.second = static_cast<int>(inDay % 60);
}

bool FromLibrary(std::int64_t unixSeconds, CivilTime& out, long* offset) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm parts{};
  if (localtime_r(&t, &parts) == nullptr) return false;
  out.year = parts.tm_year + 1900;
  out.month = parts.tm_mon + 1;
  out.day = parts.tm_mday;
  out.hour = parts.tm_hour;
  out.minute = parts.tm_min;
  out.second = parts.tm_sec;
  if (offset) *offset = parts.tm_gmtoff;
  return true;
}

// The zone's offset from UTC is looked up once per quarter hour of UTC and
// kept when it is the same at both ends of it (a volume's files are
// stamped within few such windows; each lookup costs a zone search under
// the C library's lock). A window with a change in it goes to the library
// each time. Per thread, and dropped when TZ changes.
constexpr std::int64_t kWindowSeconds = 900;
constexpr std::size_t kWindows = 256;

struct OffsetCache {
  std::string zone;
  bool zoneSet = false;
  std::int64_t window[kWindows];
  long offset[kWindows];
  bool steady[kWindows];
  OffsetCache() { Clear(); }
  void Clear() {
    for (std::size_t i = 0; i < kWindows; ++i) window[i] = INT64_MIN;
  }
};

}  // namespace

bool UtcSecondsToLocal(std::int64_t unixSeconds, CivilTime& out) {
  thread_local OffsetCache cache;
  const char* zone = std::getenv("TZ");
  if ((zone != nullptr) != cache.zoneSet || (zone && cache.zone != zone)) {
    cache.zoneSet = zone != nullptr;
    cache.zone = zone ? zone : "";
    cache.Clear();
  }
  // Far from the epoch the library's own range rules decide.
  if (unixSeconds < -(std::int64_t{1} << 40) || unixSeconds > (std::int64_t{1} << 40))
    return FromLibrary(unixSeconds, out, nullptr);
  const std::int64_t window = (unixSeconds >= 0 ? unixSeconds : unixSeconds - kWindowSeconds + 1) / kWindowSeconds;
  const std::size_t slot = static_cast<std::size_t>(static_cast<std::uint64_t>(window) % kWindows);
  if (cache.window[slot] != window) {
    CivilTime ignored;
    long first = 0, last = 0;
    if (!FromLibrary(window * kWindowSeconds, ignored, &first) ||
        !FromLibrary(window * kWindowSeconds + kWindowSeconds - 1, ignored, &last))
      return FromLibrary(unixSeconds, out, nullptr);
    cache.window[slot] = window;
    cache.offset[slot] = first;
    cache.steady[slot] = first == last;
    // Zones that count leap seconds do not map by the offset alone.
    CivilTime start;
    if (cache.steady[slot] && FromLibrary(window * kWindowSeconds, start, nullptr)) {
      CivilTime mine;
      Shifted(window * kWindowSeconds, first, mine);
      cache.steady[slot] = mine.year == start.year && mine.month == start.month && mine.day == start.day &&
                           mine.hour == start.hour && mine.minute == start.minute && mine.second == start.second;
    }
  }
  if (!cache.steady[slot]) return FromLibrary(unixSeconds, out, nullptr);
  Shifted(unixSeconds, cache.offset[slot], out);
  return true;
}

}  // namespace ambrel
