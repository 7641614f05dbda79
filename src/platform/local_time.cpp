#include "platform/local_time.h"

#include <ctime>

namespace ambrel {

bool UtcSecondsToLocal(std::int64_t unixSeconds, CivilTime& out) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm parts{};
  if (localtime_r(&t, &parts) == nullptr) return false;
  out.year = parts.tm_year + 1900;
  out.month = parts.tm_mon + 1;
  out.day = parts.tm_mday;
  out.hour = parts.tm_hour;
  out.minute = parts.tm_min;
  out.second = parts.tm_sec;
  return true;
}

}  // namespace ambrel
