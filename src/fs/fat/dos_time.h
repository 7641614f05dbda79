// DOS date and time fields (FAT directory entries, exFAT timestamps) packed
// into the found-file record's PackedTime.
#pragma once

#include <cstdint>

#include "catalog/found_file_node.h"

namespace ambrel {

// date: day 0-4, month 5-8, year-1980 9-15; time: seconds/2 0-4, minute
// 5-10, hour 11-15. Out-of-range fields are clamped (month/day to 1, hour to
// 23, minute/second to 59). A zero date means no time was recorded: 0.
PackedTime PackDosDateTime(std::uint16_t date, std::uint16_t time);

}  // namespace ambrel
