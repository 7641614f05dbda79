#include "fs/ntfs/ntfs_time.h"

#include "platform/local_time.h"

namespace ambrel {

namespace {
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
}  // namespace

PackedTime FileTimeToPackedTime(std::uint64_t fileTime) {
  if (fileTime == 0) return 0;
  const std::int64_t seconds =
      static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
  CivilTime local;
  if (!UtcSecondsToLocal(seconds, local) || local.year < 1900) return 0;
  return PackPackedTime(local.year, local.month, local.day, local.hour, local.minute, local.second);
}

}  // namespace ambrel
