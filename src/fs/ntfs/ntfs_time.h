// NTFS FILETIME (100 ns ticks since 1601-01-01 UTC) to the packed local time
// of the found-file record. Any thread.
#pragma once

#include <cstdint>

#include "catalog/found_file_node.h"

namespace ambrel {

// 0 (no time) for a FILETIME of 0 or one before 1900 or beyond what the C
// library converts.
PackedTime FileTimeToPackedTime(std::uint64_t fileTime);

// Packs a local date-time: month outside 1..12 and day outside 1..31 become
// 1, hour above 23 becomes 23, minute and second above 59 become 59; the year
// field is (year - 1980) modulo 64.
PackedTime PackLocalTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace ambrel
