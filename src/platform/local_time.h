// Conversion of a UTC instant to the local civil time of the machine's time
// zone (TZ). Any thread.
#pragma once

#include <cstdint>

namespace ambrel {

struct CivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Seconds since 1970-01-01 UTC to local civil time; false when the C
// library cannot represent the instant.
bool UtcSecondsToLocal(std::int64_t unixSeconds, CivilTime& out);

}  // namespace ambrel
