// The volumes of a chosen device row and their parse into the catalogue,
// as the command line does it: a volume row is itself; a disk or an image
// gives every volume of its partition table (or the whole device when it
// is one volume). Runs on the worker behind the progress dialog.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "catalog/found_file_catalog.h"
#include "catalog/partition_info.h"

namespace ambrel::ui {

std::vector<std::unique_ptr<PartitionInfo>> PartitionsOfRow(const DeviceInfo& row);

// Parses each partition with its file-system reader and hands every parsed
// one to the catalogue (which announces it). Stops early when `status`
// reads 2. Returns how many partitions were added.
std::uint32_t ParseIntoCatalog(FoundFileCatalog& catalog, std::vector<std::unique_ptr<PartitionInfo>> parts,
                               std::atomic<std::uint32_t>& status);

}  // namespace ambrel::ui
