// The recordings the video reassembly rebuilt, as `scan` and `recover`
// show them: name, size, how far they were verified, and the fragment
// table (start LBA and sector count of each piece, in file order).
#pragma once

#include <cstdio>
#include <vector>

#include "json_output.h"
#include "session/scan_job.h"

namespace ambrel::cli {

// "verified", or "partial: N% of samples verified".
std::string RecordingState(const video::Recording& r);
void PrintRecordings(std::FILE* out, const std::vector<video::Recording>& recordings);
Json RecordingsJson(const std::vector<video::Recording>& recordings);

}  // namespace ambrel::cli
