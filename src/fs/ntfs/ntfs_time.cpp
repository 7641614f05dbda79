#include "fs/ntfs/ntfs_time.h"

#include "platform/local_time.h"

namespace ambrel {

namespace {
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
}  // namespace

PackedTime PackLocalTime(int year, int month, int day, int hour, int minute, int second) {
  if (month < 1 || month > 12) month = 1;
  if (day < 1 || day > 31) day = 1;
  if (hour > 23) hour = 23;
  if (minute > 59) minute = 59;
  if (second > 59) second = 59;
  if (hour < 0) hour = 0;
  if (minute < 0) minute = 0;
  if (second < 0) second = 0;
  const std::uint32_t yearField = static_cast<std::uint32_t>(((year - 1980) % 64 + 64) % 64);
  return std::uint32_t(second) | std::uint32_t(minute) << 6 | std::uint32_t(hour) << 12 |
         std::uint32_t(day) << 17 | std::uint32_t(month) << 22 | yearField << 26;
}

PackedTime FileTimeToPackedTime(std::uint64_t fileTime) {
  if (fileTime == 0) return 0;
  const std::int64_t seconds =
      static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
  CivilTime local;
  if (!UtcSecondsToLocal(seconds, local) || local.year < 1900) return 0;
  return PackLocalTime(local.year, local.month, local.day, local.hour, local.minute, local.second);
}

}  // namespace ambrel
