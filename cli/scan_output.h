// What `scan` prints: the structures found sector by sector, the hits per
// kind and the carved files, as text or as one JSON document. Each part
// is its own function so that further results (rebuilt volumes) can join.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/scan_session.h"
#include "json_output.h"

namespace ambrel::cli {

// One carved file of the found-files pseudo-partition.
struct CarvedFileRow {
  std::uint32_t type = 0;
  std::string extension;
  std::string name;
  std::uint64_t lba = 0;
  std::uint64_t size = 0;
  bool structural = false;  // the size was read from the file's structure, not the gap
};

// The file nodes of a found-files partition, by LBA; empty for null.
std::vector<CarvedFileRow> CarvedFileRows(const PartitionInfo* found);
// "structure" or "gap".
const char* SizeSourceText(bool structural);

void PrintCarvedFiles(std::FILE* out, const std::vector<CarvedFileRow>& rows);

Json CarvedFilesJson(const std::vector<CarvedFileRow>& rows);

}  // namespace ambrel::cli
