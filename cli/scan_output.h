// What `scan` prints: the structures found sector by sector, the hits per
// kind and the carved files, as text or as one JSON document. Each part
// is its own function so that further results (rebuilt volumes) can join.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "session/scan_job.h"
#include "json_output.h"

namespace ambrel::cli {

// "structure" or "gap".
const char* SizeSourceText(bool structural);

void PrintCarvedFiles(std::FILE* out, const std::vector<CarvedFileRow>& rows);

Json CarvedFilesJson(const std::vector<CarvedFileRow>& rows);

}  // namespace ambrel::cli
