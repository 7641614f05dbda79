// Consistency of a FAT boot sector's layout fields, the checks a volume
// checker applies before it trusts them, and a second reading of the root
// entry count of FAT12/16 when the recorded one cannot be right.
//
// The root entry count places the data area: a wrong count moves every
// cluster, so every file would be read from the wrong place. The folders of
// the root say where the data area really starts: a subdirectory's first
// cluster begins with its "." and ".." entries.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "catalog/partition_info.h"
#include "fs/fat/fat_geometry.h"

namespace ambrel {

// Reads `count` 512-byte sectors at `lba` into `out`; false on a read error.
using FatSectorReader = std::function<bool(std::uint64_t lba, std::uint32_t count, std::uint8_t* out)>;

// The boot fields a checker rejects (none for a volume as formatting tools
// make it).
std::vector<FatBootProblem> CheckFatBootFields(std::span<const std::uint8_t> boot, std::uint64_t volumeSectors);

// Of the possible root entry counts of a FAT12/16 volume (the recorded one
// and every whole number of sectors up to the recorded size), the one under
// which most of the root's subdirectory entries point at a cluster that
// begins with "." and "..". Nothing when the recorded count does at least
// as well, or when no subdirectory confirms another.
std::optional<std::uint16_t> RootEntriesFromFolders(const FatGeometry& g, const FatSectorReader& read);

// Checks the boot sector of a FAT12/16/32 partition; on FAT12/16 a root
// entry count the folders contradict is replaced in the partition's copy
// of the boot sector (the source is never written). The problems and the
// count used go to partition.fatBoot.
void SettleFatBootFields(PartitionInfo& partition, const FatSectorReader& read);

}  // namespace ambrel
