// What starts at a sector: a file-system boot sector, a partition table or
// nothing known. The device layer reads sectors and decodes partition
// tables but does not know file systems; it takes the file-system layer's
// judge (fs/boot_probe.h) as a SectorJudge argument.
#pragma once

#include <cstdint>

#include "common/byte_cursor.h"

namespace ambrel {

enum class SectorKind { kNothing, kVolume, kPartitionTable, kGptProtective };

struct SectorVerdict {
  SectorKind kind = SectorKind::kNothing;
  std::int32_t fsKind = 0;          // an FsKind code for a volume
  const char* fsName = "";          // "NTFS", "FAT12", "FAT16", "FAT32", "exFat"
  std::uint32_t bytesPerSector = 0; // the volume's own sector size
  std::uint64_t volumeSectors = 0;  // 512-byte sectors the volume spans
  bool truncated = false;           // the volume reaches past the device's end
  bool tableEntries = false;        // the MBR slots hold valid entries as well

  bool IsVolume() const { return kind == SectorKind::kVolume; }
};

// Judges one 512-byte sector. `sectorsAvailable` counts the 512-byte sectors
// of the device from this sector on (0 when unknown: no size test).
using SectorJudge = SectorVerdict (*)(ByteSpan sector, std::uint64_t sectorsAvailable);

}  // namespace ambrel
