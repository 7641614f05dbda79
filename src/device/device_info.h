// Device rows of the enumeration and the file-system kind codes: what the
// device layer knows of a disk or a volume before any file system is read.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ambrel {

enum FsKind : std::int32_t {
  kFsUnknown = 0,
  kFsExfat = 4,
  kFsFat16 = 10,
  kFsFat32 = 11,
  kFsNtfs = 12,
  kFsClassTree = 14,
  kFsSignature = 15,   // files found by signature; also the video result
  kFsFatDirScan = 16,
  kFsExfatDirScan = 17,
};

using BootSector = std::array<std::uint8_t, 512>;

struct DeviceInfo {
  int kind = 0;            // 0 disk row, 1 volume row
  int removable = 0;
  std::uint64_t startLba = 0;
  std::uint64_t sectorCount = 0;
  std::string displayName;
  std::string driveLetter;  // mount point or partition name on Linux
  std::uint64_t freeSectors = 0;
  std::int32_t fsKind = kFsUnknown;
  std::string volumePath;
  std::string volumeLabel;
  std::string fsName;
  std::uint32_t volumeSerial = 0;
  BootSector bootSector{};
  int diskNumber = -1;
  std::string diskName;
  std::string diskPath;
  std::uint64_t diskSectorCount = 0;
};

}  // namespace ambrel
