// Whether a QuickTime file taken as one contiguous run holds its samples
// where its moov says: the check that keeps the carving of whole files
// from claiming a recording whose data lies in pieces.
#pragma once

#include <cstdint>

#include "video/sample_checks.h"

namespace ambrel::video {

// Samples checked across the file.
inline constexpr std::uint32_t kContiguityProbes = 16;

// Reads the top-level atoms of the file's first `size` bytes through
// `file`, walks its moov and checks video samples spread evenly over the
// file (the first and the last among them). False when one of them does
// not open at its place or lies past `size`; true when it cannot be told
// (no moov, no video that can be checked).
bool SamplesHoldContiguously(FileReader& file, std::uint64_t size);

}  // namespace ambrel::video
