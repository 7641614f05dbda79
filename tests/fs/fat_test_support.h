// Helpers shared by the FAT and exFAT reader tests: partitions over fixture
// images, paths of listed nodes, md5 of extents read through ReadSectors.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <cstring>
#include <memory>

#include "device/memory_device.h"
#include "device/disk_handle.h"
#include "catalog/partition_info.h"
#include "fs/data_extent.h"

namespace ambrel::test {

// Turns file-system parsing on for this test process.
void EnableParsing();
// A partition record for a whole image file holding one volume.
PartitionInfo ImagePartition(const std::string& imagePath, std::int32_t fsKind);
// Path of every live node below the root ("a/b/c"), by id.
std::map<std::string, std::uint32_t> NodePaths(const FoundFileTable& table);
// md5 (lower-case hex) of the first `size` bytes read through the extents.
std::string Md5OfExtents(DiskHandle& handle, const ExtentList& extents, std::uint64_t size);
// Lines of `fls -r -p image` (empty when fls is not installed).
struct FlsEntry {
  std::string path;
  bool deleted = false;
  bool directory = false;
};
bool FlsAvailable();
std::vector<FlsEntry> RunFls(const std::string& imagePath);

using VectorDevice = MemoryDevice;

}  // namespace ambrel::test
