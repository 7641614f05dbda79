// The two FAT copies of a FAT12/16/32 volume. Formatting tools write two
// identical copies and every driver updates both, so a difference means one
// copy was damaged or a write was cut between them. The first copy is not
// trusted blindly: each live file's chain is taken from the copy that fits
// the file's size and the other files, and the result is written into the
// partition's loaded FAT, so every later reader (extents, cluster owners,
// overwrite checks) sees one settled table.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "catalog/partition_info.h"
#include "device/disk_handle.h"
#include "fs/fat/fat_geometry.h"

namespace ambrel {

// Number of entries whose values differ between two loaded copies of the
// same length and entry width (12, 16 or 32 bits; FAT32's top nibble is
// reserved and ignored).
std::uint64_t CountDifferingFatEntries(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second,
                                       unsigned bits);

// Writes one entry (12-bit entries share bytes with their neighbour).
// Nothing is written outside `bytes`.
void SetFatEntry(std::vector<std::uint8_t>& bytes, unsigned bits, std::uint64_t cluster, std::uint32_t value);

// Reads the second copy (`sectors` sectors from `secondLba`) and compares
// it with the first, already in partition.fat. When they differ, the
// second copy is kept in partition.fatSecond and the count of differing
// entries set. A copy that cannot be read is left out of the comparison.
void CompareFatCopies(PartitionInfo& partition, DiskHandle& handle, const FatGeometry& g, std::uint64_t secondLba,
                      std::uint64_t sectors, const std::atomic<std::uint32_t>* stopWord);

// The next cluster of a directory's chain at `cluster`: the first copy's
// entry, unless the copies disagree there and only the second copy's entry
// continues the chain (a cluster of the volume or an end mark).
std::uint32_t DirectoryNextCluster(const PartitionInfo& partition, const FatGeometry& g, std::uint64_t cluster);

// Settles the chain of every live file that runs through a differing entry
// (after the listing, so the sizes and first clusters are known): the copy
// whose chain holds exactly the file's clusters and ends with an end mark,
// without running into another entry's first cluster or a cluster another
// chain holds, wins; the first copy wins a tie. The chosen entries are
// written into partition.fat and the counts into partition.fatCopies.
void ReconcileFatCopies(PartitionInfo& partition);

}  // namespace ambrel
