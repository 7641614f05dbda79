// NTFS FILETIME (100 ns ticks since 1601-01-01 UTC) to the packed local time
// of the found-file record. Any thread.
#pragma once

#include <cstdint>

#include "catalog/found_file_node.h"

namespace ambrel {

// Converted to local time (the machine's zone) and packed with
// PackPackedTime; 0 (no time) for a FILETIME of 0 or one before 1900 or beyond what the C
// library converts.
PackedTime FileTimeToPackedTime(std::uint64_t fileTime);

}  // namespace ambrel
