// Helpers of the deep-scan tests: crafted sectors, whole-image
// classification, the sleuthkit oracle.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "deepscan/scan_hit.h"

namespace ambrel::test {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadImage(const std::string& path);
void PutU16(Bytes& b, std::size_t at, std::uint16_t v);
void PutU32(Bytes& b, std::size_t at, std::uint32_t v);
void PutU64(Bytes& b, std::size_t at, std::uint64_t v);

// Classifies every sector of `image` chunk by chunk as the scan does and
// returns the hits by LBA (reads past a chunk go to the image itself).
std::map<std::uint64_t, ScanHit> ClassifyImage(const Bytes& image);

// Output lines of a shell command; empty when it fails.
std::vector<std::string> CommandLines(const std::string& command);
bool ToolAvailable(const char* tool);
// The value after "label" in fsstat/istat output ("First Cluster of MFT: 4").
std::uint64_t NumberAfter(const std::vector<std::string>& lines, const std::string& label);

// A crafted 1024-byte FILE record: $STANDARD_INFORMATION, one $FILE_NAME
// (namespace `space`) and a non-resident $DATA with `runs`.
Bytes MakeFileRecord(std::uint32_t number, std::uint32_t parent, const std::u16string& name,
                     std::uint8_t space, const Bytes& runs, std::uint64_t dataSize);

// Builds a minimal valid FAT32 boot sector (mkfs.vfat-like, no geometry).
Bytes MakeFat32Boot(std::uint32_t totalSectors);
Bytes MakeNtfsBoot(std::uint64_t totalSectors);

}  // namespace ambrel::test
