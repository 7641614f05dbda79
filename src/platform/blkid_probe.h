// File-system facts from libblkid: type, version, label and serial of the
// file system found in a byte range of a device or image file.
#pragma once

#include <cstdint>
#include <string>

namespace ambrel {

struct BlkidFacts {
  std::string type;     // "vfat", "ntfs", "exfat", ...
  std::string version;  // "FAT16", "FAT32", ...
  std::string label;
  std::string uuid;     // "1234-ABCD" or "0123456789ABCDEF"
};

// Which of libblkid's probers are asked: every one (tens of them, each
// reading its own places of the range), or only those of NTFS, FAT and
// exFAT, for a range whose boot sector already names one of them.
enum class BlkidProbers { kAll, kNtfsFatExfat };

// Probes the range [offset, offset + length) of `path` (length 0: to the
// end). Opens the path read-only; false when nothing is recognised.
bool ProbeWithBlkid(const std::string& path, std::uint64_t offset, std::uint64_t length,
                    BlkidFacts& facts, BlkidProbers probers = BlkidProbers::kAll);

}  // namespace ambrel
