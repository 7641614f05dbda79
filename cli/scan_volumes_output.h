// The volumes a deep scan rebuilt, as the scan command prints them: one
// line each (number, how it was found, start, size, kind, label, files),
// the tree of one of them, or both as JSON.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "json_output.h"

namespace ambrel::cli {

// "real", "partition table", "boot sector", "backup boot sector",
// "MFT run", "loose records", "directory entries", "signatures".
std::string OriginText(std::uint32_t origin);
// "NTFS", "FAT16", "FAT32", "exFAT", "FatDir", "ExfatDir", "found files".
std::string ResultKindText(const PartitionInfo& partition);

// Numbered from 1 in result order.
void PrintRebuiltVolumes(const std::vector<std::unique_ptr<PartitionInfo>>& results);
Json RebuiltVolumesJson(const std::vector<std::unique_ptr<PartitionInfo>>& results);
// The tree of result `number`; false (with a message) when there is none.
bool PrintRebuiltTree(const std::vector<std::unique_ptr<PartitionInfo>>& results, int number,
                      bool json, Json* document);

}  // namespace ambrel::cli
