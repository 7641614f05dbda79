#include "fs/fat/dos_time.h"

namespace ambrel {

PackedTime PackDosDateTime(std::uint16_t date, std::uint16_t time) {
  if (date == 0) return 0;
  std::uint32_t day = date & 0x1F;
  std::uint32_t month = (date >> 5) & 0x0F;
  std::uint32_t year = (date >> 9) & 0x7F;  // years since 1980
  std::uint32_t second = (time & 0x1F) * 2;
  std::uint32_t minute = (time >> 5) & 0x3F;
  std::uint32_t hour = (time >> 11) & 0x1F;
  if (month < 1 || month > 12) month = 1;
  if (day < 1 || day > 31) day = 1;
  if (hour > 23) hour = 23;
  if (minute > 59) minute = 59;
  if (second > 59) second = 59;
  return (second) | (minute << 6) | (hour << 12) | (day << 17) | (month << 22) | ((year % 64) << 26);
}

}  // namespace ambrel
