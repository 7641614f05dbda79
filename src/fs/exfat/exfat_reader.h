// The exFAT reader: lists the live and deleted files and folders of a
// partition into its node table, computes the data extents of a file, and
// rebuilds a volume whose boot sector is lost from directory sectors found
// by the deep scan.
//
// Threads: every function runs on the calling scan worker thread; the only
// shared state touched is the progress mailbox.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/progress.h"
#include "device/disk_handle.h"
#include "catalog/partition_info.h"
#include "fs/data_extent.h"
#include "fs/exfat/exfat_geometry.h"
#include "fs/orphan_folders.h"

namespace ambrel {

// Directories are capped at 256 MiB. A root found by the deep scan without
// its FAT is read up to 64 KiB; a volume's own root follows its chain.
inline constexpr std::uint64_t kExfatRootByteLimit = 0x10000;
inline constexpr std::uint64_t kExfatMaxDirectoryBytes = 256ull << 20;

// Lists the whole partition (FsKind 4). Needs "ParseFileSys" = "1".
// `orphans`: whether folders the walk does not reach are looked for in the
// free clusters (listed under the lost-files folder).
bool ReadExfatPartition(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                        OrphanFolderSearch orphans = OrphanFolderSearch::kOff);
// The same over a handle the caller opened (tests, in-memory devices).
bool ReadExfatVolume(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                     DiskHandle& handle, OrphanFolderSearch orphans = OrphanFolderSearch::kOff);

// Reads one directory's clusters (up to byteLimit bytes) and parses them,
// entering subdirectories. False on a stop request or a bad first cluster.
bool ReadExfatDirectory(const std::atomic<std::uint32_t>* stopWord, ScanProgress* progress,
                        DiskHandle& handle, PartitionInfo& partition, std::uint32_t firstCluster,
                        std::uint64_t byteLimit, std::uint32_t parentId);

// Turns a buffer of directory entries into nodes under parentId, entering
// each subdirectory of non-zero size once (a folder already read, or deeper
// than the depth cap, is not entered again).
void ParseExfatEntries(ScanProgress* progress, DiskHandle& handle,
                       const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                       const std::uint8_t* buffer, std::uint64_t byteLength, std::uint32_t parentId);

// What the reader keeps of a file's stream entry in its node, whose
// `extraCount` and `fileCount` an exFAT file does not otherwise use:
// extraCount bit 0 the NoFatChain flag, bit 1 "ValidDataLength below
// DataLength"; then ValidDataLength's low 32 bits in fileCount and its
// next 24 bits in extraCount bits 8..31.
inline constexpr std::uint32_t kExfatNodeNoFatChain = 1u << 0;
inline constexpr std::uint32_t kExfatNodeValidShort = 1u << 1;
void SetExfatStreamFacts(FoundFileNode& node, bool noFatChain, std::uint64_t validLength);
bool ExfatNoFatChain(const FoundFileNode& node);
// ValidDataLength when it lies below the node's size (DataLength), else none.
bool ExfatValidShort(const FoundFileNode& node, std::uint64_t& validLength);

// Data extents of a file. A live file: its clusters from the first on when
// it has no FAT chain, else its FAT chain, which ends at an end-of-chain,
// free, bad or off-volume entry, at a loop, or once the size is covered.
// A deleted file (whose chain the deletion freed), a live entry whose first
// cluster reads free and a volume whose FAT was not loaded: contiguous
// clusters. Returns the extent count.
std::size_t ExfatFileExtents(ExtentList& extents, const FoundFileNode& node, const PartitionInfo& partition);
// The same, telling how the walk ended.
ChainEnd ExfatChainExtents(ExtentList& extents, const FoundFileNode& node, const PartitionInfo& partition);

// The first label entry of the root directory's first cluster.
bool ReadExfatVolumeLabel(PartitionInfo& partition, DiskHandle& handle);
// Fills a fresh partition record from an exFAT boot sector found at startLba.
void MakeExfatPartition(PartitionInfo& partition, std::span<const std::uint8_t> bootSector,
                        DiskHandle& handle, std::uint64_t startLba);
// Confirms a boot-sector candidate: its root directory and its FAT look right.
bool IsExfatVolumeAt(std::span<const std::uint8_t> bootSector, DiskHandle& handle, std::uint64_t lba);

// Rebuilds an exFAT volume (FsKind 17) from the LBAs of directory sectors a
// deep scan found (its "Exfat root dir entry" and "Exfat dir entry" hits) and
// appends it to `partitions`. False when no cluster size or heap can be
// estimated, or a known volume already has its heap there.
bool RebuildExfatFromScan(const std::atomic<std::uint32_t>* stopWord, ScanProgress* progress,
                          DiskHandle& handle, const std::string& displayName,
                          std::span<const std::uint64_t> directoryHitLbas,
                          std::vector<PartitionInfo>& partitions);
// The cluster size (sectors) the run starts suggest; 0 without an estimate.
std::uint32_t EstimateExfatClusterSize(std::span<const std::uint64_t> runStarts);

}  // namespace ambrel
