// Device rows of the enumeration and the partition record on which every
// reader, the deep scan and the copy-out work.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/node_table.h"

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

struct PartitionInfo {
  std::uint32_t readerWord = 0;
  std::int32_t readerInt = 0;
  std::int32_t fsKind = kFsUnknown;
  std::uint64_t startLba = 0;
  std::uint64_t freeSectors = 0;
  std::uint64_t sectorCount = 0;
  std::uint64_t diskSectorCount = 0;
  int removable = 0;
  BootSector bootSector{};
  FoundFileTable table;
  int diskNumber = -1;
  std::uint32_t volumeSerial = 0;
  std::string diskName;
  std::string displayName;
  std::string diskPath;
  std::string volumePath;
  std::string volumeLabel;
  std::string fsName;
  // Loaded by the FAT and exFAT readers and kept for extent computation:
  // the first FAT (FAT16 u16 / FAT32 and exFAT u32 entries) and the exFAT
  // allocation bitmap (bit c - 2 for cluster c). Empty when not loaded.
  std::vector<std::uint8_t> fat;
  std::vector<std::uint8_t> allocationBitmap;

  PartitionInfo() = default;
  PartitionInfo(PartitionInfo&&) noexcept = default;
  PartitionInfo& operator=(PartitionInfo&&) noexcept = default;
};

// Copies a volume row into a fresh partition record; returns the row's kind.
int MakePartitionInfo(const DeviceInfo& row, PartitionInfo& out);

}  // namespace ambrel
