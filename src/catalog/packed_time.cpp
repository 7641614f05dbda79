#include "catalog/found_file_node.h"

namespace ambrel {

PackedTime PackPackedTime(int year, int month, int day, int hour, int minute, int second) {
  if (month < 1 || month > 12) month = 1;
  if (day < 1 || day > 31) day = 1;
  if (hour < 0) hour = 0;
  if (hour > 23) hour = 23;
  if (minute < 0) minute = 0;
  if (minute > 59) minute = 59;
  if (second < 0) second = 0;
  if (second > 59) second = 59;
  const unsigned yearField = year < 1900 ? 0u : unsigned(((year - 1980) % 64 + 64) % 64);
  return (yearField << 26) | (unsigned(month) << 22) | (unsigned(day) << 17) |
         (unsigned(hour) << 12) | (unsigned(minute) << 6) | unsigned(second);
}

}  // namespace ambrel
