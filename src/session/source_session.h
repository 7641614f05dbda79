// One source the user chose (a disk, a partition node or an image file),
// opened once: its description, its volumes, their listings, the area a
// deep scan of it reads, and the checks of a target folder against it. The
// two faces reach the readers through here and nowhere else.
//
// Threads: a session is used by one front-end thread at a time; the parse
// of a volume runs on a worker the session starts and waits for. Two
// sessions share nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/progress.h"
#include "catalog/found_file_catalog.h"
#include "catalog/partition_info.h"
#include "device/device_enum.h"
#include "device/gpt_loss.h"

namespace ambrel {

// The short name of a file-system kind code: "NTFS", "FAT16", "FAT32",
// "exFAT", else "unknown" (the probe's own table).
const char* FsKindName(std::int32_t kind);

// The kind name of a volume row: "FAT12" for a FAT16-family volume with
// 12-bit entries, else FsKindName.
const char* VolumeKindName(const DeviceInfo& row);

// Which entries of a volume a listing or a copy takes.
enum class ListScope { kAll, kPresent, kDeleted, kRecycle };

// What a listing asks for: the scope, and whether folders no folder
// reaches any more (found in the free clusters of FAT and exFAT volumes,
// listed under the lost-files folder) are looked for on volumes over
// 32 GiB too; smaller volumes are always searched.
struct ListRequest {
  ListScope scope = ListScope::kAll;
  bool orphansOnLargeVolumes = false;
};

// A volume of the source, numbered as the partition table numbers it (1
// for a volume without a table).
struct SourceVolume {
  int number = 0;
  bool truncated = false;  // its boot sector describes more sectors than the device holds
  PartitionInfo info;      // place and file-system kind; no files until listed
};

// Why the source holds no volume at all.
enum class NoVolumeReason {
  kNoTableNoBootSector,
  kTableWithoutUsableEntry,
  kNtfsRecordSize,  // sector 0 is an NTFS boot sector whose FILE or INDX record size is not usable
};

// What sector 0 of a volume that is not NTFS, FAT or exFAT holds.
enum class BootSectorState {
  kUnreadable,
  kEmpty,
  kNoSignature,
  kNtfsRecordSize,  // an NTFS boot sector whose FILE or INDX record size is not usable
};

// Why a listing gave nothing.
enum class ListProblem { kNone, kNoSuchVolume, kNotAFileSystem, kUnreadable, kNoRecycleBin };

struct VolumeListing {
  ListProblem problem = ListProblem::kNone;
  BootSectorState bootSector = BootSectorState::kNoSignature;  // for kNotAFileSystem
  std::unique_ptr<PartitionInfo> volume;  // the scope's view of the parsed volume
  // The metadata the reader could not read (whatever the scope): the
  // listing lacks what it held. Empty when everything was read.
  std::vector<UnreadMetadata> unread;
  std::uint64_t unreadDropped = 0;  // pieces beyond those kept
  bool MetadataUnread() const { return !unread.empty() || unreadDropped != 0; }
  // A FAT volume whose FAT copies differ, and how its chains were settled.
  FatCopyDisagreement fatCopies;
  // A FAT volume's boot fields that a checker rejects, and the root entry
  // count read when its folders showed another.
  FatBootCheck fatBoot;
};

// What a target folder is for this source.
enum class FolderProblem { kNone, kNotAFolder, kPermissionDenied, kReadOnly, kOnTheSource, kOther };
struct FolderCheck {
  FolderProblem problem = FolderProblem::kNone;
  std::string systemText;  // for kOther
};

// Parse progress: called about every 20 ms on the calling thread with the
// latest stage-1 record while a volume is parsed.
using ParseObserver = std::function<void(const ScanProgress&)>;

class SourceSession {
 public:
  // Opens PATH read-only (a container image through its library); null with
  // `why` set when it cannot be opened.
  static std::unique_ptr<SourceSession> Open(const std::string& path, std::string* why = nullptr,
                                             const DeviceLists* known = nullptr);
  // A row of the device lists: a volume row is that one volume of its disk;
  // a disk row is the disk with every volume of its table.
  static std::unique_ptr<SourceSession> OpenRow(const DeviceInfo& row, const DeviceLists* known = nullptr);

  const std::string& Path() const { return path_; }
  // An image file (not a device node): a target beside it cannot change it.
  bool IsImageFile() const { return imageFile_; }
  bool Removable() const { return description_.disk.removable != 0; }
  const DiskDescription& Description() const { return description_; }
  // The volumes, in table order.
  const std::vector<SourceVolume>& Volumes() const { return volumes_; }
  const SourceVolume* Volume(int number) const;
  NoVolumeReason WhyNoVolume();
  // The GPT entries the table reader could not use (empty when none).
  GptLoss LostGptPartitions();
  BootSectorState BootSectorOf(const SourceVolume& volume);

  // Parses volume `number` (a worker thread; the stop word may end it) and
  // gives the scope's view of it.
  VolumeListing ListVolume(int number, const ListRequest& request,
                           const std::atomic<std::uint32_t>* stopWord = nullptr, const ParseObserver& observer = {});
  VolumeListing ListVolume(int number, ListScope scope, const std::atomic<std::uint32_t>* stopWord = nullptr,
                           const ParseObserver& observer = {}) {
    return ListVolume(number, ListRequest{scope, false}, stopWord, observer);
  }
  // Parses every volume (or `number` only) into the catalogue in `scope`;
  // the volumes that could not be listed, with their problem, and those
  // listed without some of their metadata (problem kNone, `unread` set),
  // and the FAT volumes whose copies disagree or whose boot fields are off.
  // `announce`: the catalogue tells its views of each volume added.
  std::vector<std::pair<int, VolumeListing>> ListInto(FoundFileCatalog& catalog, int number, ListScope scope,
                                                      const std::atomic<std::uint32_t>* stopWord = nullptr,
                                                      const ParseObserver& observer = {}, bool announce = false);

  // The area a deep scan reads: the whole device, or volume `number`. A
  // volume that fills the image gives the file system whose free space
  // modes 2 and 5 read. Empty when there is no such volume.
  std::optional<PartitionInfo> ScanArea(int number = 0) const;

  // The checks of a target folder before anything is written: on a device
  // source it must lie on another disk; a missing folder is made (with its
  // parents) and must take new files.
  FolderCheck PrepareTarget(const std::string& folder) const;

 private:
  SourceSession() = default;
  void FindVolumes();
  PartitionInfo Record(std::uint64_t start, std::uint64_t sectors) const;

  std::string path_;
  bool imageFile_ = false;
  DiskHandle disk_;
  DiskDescription description_;
  std::vector<SourceVolume> volumes_;
  std::vector<DeviceInfo> rows_;  // OpenRow of a volume row: that row only
};

}  // namespace ambrel
