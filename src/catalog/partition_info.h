// The partition record on which every reader, the deep scan and the
// copy-out work: a volume's place on its disk and, once parsed, its
// found-file table and the reader's loaded state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/node_table.h"
#include "device/device_info.h"
#include "device/disk_handle.h"

namespace ambrel {

// How a deep scan came to a partition result (0 for everything else).
enum PartitionOrigin : std::uint32_t {
  kOriginNone = 0,
  kOriginReal = 1,              // a volume the system or the partition table knows
  kOriginPartitionTable = 2,    // an entry of an extended boot record
  kOriginBootSector = 3,
  kOriginBackupBootSector = 4,  // NTFS last sector, FAT32 +6, exFAT backup region
  kOriginMftRun = 5,            // a run of FILE records starting with $MFT
  kOriginLooseRecords = 6,      // FILE records whose MFT could not be placed
  kOriginDirectoryEntries = 7,  // FAT or exFAT directory sectors
  kOriginSignatures = 8,        // the files found by signature
};

// A piece of a volume's metadata that could not be read from the source:
// what it held is missing from the listing.
enum class UnreadMetadataKind : std::uint8_t {
  kMftRecords,     // `count` MFT records from record number `first`
  kFolderSectors,  // `count` sectors of the entries of a folder (`folder`), in its cluster `first` (0: the fixed root)
  kFatSectors,     // `count` sectors of the FAT from sector `first` of it, unreadable in every copy
  kTornMftRecord,  // MFT record `first` at sector `lba` failed its update-sequence check
};

struct UnreadMetadata {
  UnreadMetadataKind kind = UnreadMetadataKind::kMftRecords;
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  std::uint64_t lba = 0;  // the first unreadable sector
  std::string folder;     // kFolderSectors: the folder's path in the volume, "/" for the root
};

// At most this many pieces are kept; the others are only counted.
inline constexpr std::size_t kMaxUnreadMetadata = 1024;

class ClusterOwners;  // fs/cluster_map.h
class LaterVolume;    // fs/cluster_map.h

// A FAT boot-sector field that a volume checker rejects.
enum class FatBootProblem : std::uint8_t {
  kNoFats,                  // the FAT count is 0
  kNoReservedSectors,       // the boot sector would be its own FAT
  kClusterSizeNotPowerOfTwo,
  kRootEntriesPartialSector,  // the root directory does not fill whole sectors
  kNoRootEntries,           // FAT12/16 without a root directory
  kFatTooSmall,             // the FAT holds fewer entries than the volume has clusters
};

// What the reader made of the boot fields of a FAT volume.
struct FatBootCheck {
  std::vector<FatBootProblem> problems;
  std::uint32_t rootEntriesRecorded = 0;
  std::uint32_t rootEntriesUsed = 0;  // differs when the folders showed another
  bool Any() const { return !problems.empty() || rootEntriesUsed != rootEntriesRecorded; }
};

// A FAT volume whose FAT copies disagree (a copy damaged, or a write cut
// between the two): how many entries differ, and how the listing settled
// each live file's chain that runs through them.
struct FatCopyDisagreement {
  std::uint64_t entries = 0;             // entries whose values differ
  std::uint32_t chainsFromSecond = 0;    // chains taken from the second copy
  std::uint32_t chainsUnresolved = 0;    // disputed chains neither copy fits
  bool Any() const { return entries != 0; }
};

struct PartitionInfo {
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
  // allocation bitmap (bit c - 2 for cluster c); the NTFS reader keeps its
  // $Bitmap here (bit c for cluster c). Empty when not loaded.
  std::vector<std::uint8_t> fat;
  std::vector<std::uint8_t> allocationBitmap;
  // The second FAT copy, kept only when it differs from the first; the
  // chains the listing settled on are written into `fat`.
  std::vector<std::uint8_t> fatSecond;
  FatCopyDisagreement fatCopies;
  FatBootCheck fatBoot;
  // The clusters the consistent live chains of a FAT or exFAT volume hold
  // (built with its listing); null when not built.
  std::shared_ptr<const ClusterOwners> clusterOwners;
  // A tree the deep scan rebuilt of an older volume: the volumes formatted
  // over it, whose allocation tells which of the old files' sectors they
  // took (empty when no such volume was read).
  std::vector<std::shared_ptr<const LaterVolume>> overlaidBy;
  std::uint32_t origin = kOriginNone;  // a PartitionOrigin
  // The device the session opened for the disk this partition lies on:
  // every reader, the scan and the copy-out read through it, so a source is
  // opened once. Null for a record made without a session (then diskPath
  // is opened).
  std::shared_ptr<BlockDevice> source;
  // What the reader could not read of the volume's metadata (MFT records,
  // folder sectors, FAT sectors), in the order met.
  std::vector<UnreadMetadata> unreadMetadata;
  std::uint64_t unreadMetadataDropped = 0;  // pieces beyond kMaxUnreadMetadata

  PartitionInfo() = default;
  PartitionInfo(PartitionInfo&&) noexcept = default;
  PartitionInfo& operator=(PartitionInfo&&) noexcept = default;
};

// Records an unreadable piece; a run of MFT records or of sectors that
// continues the last piece of the same kind (and folder) extends it.
void NoteUnreadMetadata(PartitionInfo& partition, UnreadMetadata piece);

// Copies a volume row into a fresh partition record; returns the row's kind.
int MakePartitionInfo(const DeviceInfo& row, PartitionInfo& out);

// A handle on the disk of a partition: its session's device when it has
// one, else the disk at diskPath opened anew. Reads use absolute disk LBAs,
// limited to the partition's last sector (2^48 when its size is unknown).
// Fails for a partition of 0 sectors.
bool OpenPartition(const PartitionInfo& partition, DiskHandle& out);

}  // namespace ambrel
