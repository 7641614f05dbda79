// The FAT16 / FAT32 reader: lists the live and deleted files and folders of a
// partition into its node table, and computes the data extents of a file.
//
// Threads: ReadFatPartition and everything it calls run on the calling scan
// worker thread. The visited-directory list is process-wide; one walk uses it
// at a time (a new walk or a new deep scan empties it).
#pragma once

#include <atomic>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "app/progress.h"
#include "device/disk_handle.h"
#include "catalog/partition_info.h"
#include "fs/parse_context.h"
#include "fs/data_extent.h"
#include "fs/fat/fat_geometry.h"

namespace ambrel {

// The shared scan state word: 0 running, 1 paused, 2 stop requested, 3 finished.
inline bool FatStopRequested(const std::atomic<std::uint32_t>* stopWord) {
  return stopWord && stopWord->load(std::memory_order_relaxed) == 2;
}

// Reads and lists the whole partition (FsKind 10 or 11). Needs the setting
// "ParseFileSys" = "1". Nodes added before a stop request stay, unlinked.
// `context`, when given, keeps the directory starts this walk read (after
// clearing them) and gives the hits of a completed deep scan.
bool ReadFatPartition(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                      ParseContext* context = nullptr);
// The same over a handle the caller opened (tests, in-memory devices).
bool ReadFatVolume(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                   DiskHandle& handle, ParseContext* context = nullptr);

// Loads the first FAT into partition.fat: capped at 0x40000 sectors, falling
// back to the second copy and then sector by sector. False when a read
// failed (the buffer is still kept) or on a stop request. Sectors that no
// copy gives are noted in partition.unreadMetadata.
bool LoadFat(PartitionInfo& partition, DiskHandle& handle, const std::atomic<std::uint32_t>* stopWord);

// Reads the first FAT copy (the allocation map the deep scan consults for
// free clusters) into `out`; `out` is empty when the read fails or the FAT
// size is unusable.
bool LoadFatCopy(const PartitionInfo& partition, std::vector<std::uint8_t>& out);

// Reads one directory (cluster 0 = the root) into `buffer`: at most 1024
// clusters; a subdirectory must begin with "." and "..". Returns the byte
// count, 0 when nothing was read, it was already visited, or on a stop.
// A directory whose start is in `visited` already is not read again (0).
// A sector of a directory that could not be read (it reads as zero in the
// buffer): its index in the buffer and its LBA.
struct UnreadDirectorySector {
  std::uint32_t index = 0;
  std::uint64_t lba = 0;
};
// Each cluster is read with the salvage of ReadSectorsSalvaging; the
// sectors that stay unreadable go to `unread` (when given). A subdirectory
// whose first sector cannot be read is kept: its "." and ".." cannot be
// checked, and the rest of it may still hold entries.
std::uint64_t ReadFatDirectory(PartitionInfo& partition, const std::atomic<std::uint32_t>* stopWord,
                               DiskHandle& handle, std::uint32_t firstCluster,
                               std::vector<std::uint8_t>& buffer, std::unordered_set<std::uint64_t>& visited,
                               std::vector<UnreadDirectorySector>* unread = nullptr);

// Data extents of a node: a deleted folder is one run of ceil(size / 512)
// sectors; a deleted file (and a live entry whose first cluster is free)
// contiguous clusters from its first; a live file its FAT chain, which ends
// at an end-of-chain, free, bad or off-volume entry or at a loop, so its
// extents may cover less than the size. True when at least one extent
// results.
bool FatFileExtents(const PartitionInfo& partition, const FoundFileNode& node, ExtentList& extents);
// The same, telling how the walk ended.
ChainEnd FatChainExtents(const PartitionInfo& partition, const FoundFileNode& node, ExtentList& extents);

// The volume label by one rule for every view: the root directory's label
// entry, else the boot sector's label (empty when neither has one).
std::string FatVolumeLabel(const PartitionInfo& partition, DiskHandle& handle);

}  // namespace ambrel
