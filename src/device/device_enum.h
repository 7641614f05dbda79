// Enumeration of the machine's disks and volumes into DeviceInfo rows, the
// boot-sector probe that names a volume's file system, and the description
// of one disk or disk image (its partition table and volumes).
//
// Threads: GetAllPartInfoThread runs on its own worker thread, started by
// EnumerateDevices, which waits for it on the calling (interface or CLI)
// thread. The lists belong to the caller's DeviceEnumerator; the thread
// replaces them at its end under the enumerator's lock, readers take
// copies. The other functions may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/progress.h"
#include "device/disk_handle.h"
#include "device/device_info.h"
#include "device/partition_table.h"
#include "device/sector_verdict.h"

namespace ambrel {

inline constexpr int kMaxDisks = 10;
inline constexpr std::uint64_t kProbeMinSectors = 0x20000;  // volumes above 64 MiB are probed
inline constexpr const char* kDefaultVolumeLabel = "本地磁盘";

// Status word of one enumeration: 0 running, 2 cancel requested or failed,
// 3 finished. Shared with the thread, so it lives as long as the thread.
using EnumerationStatus = std::shared_ptr<std::atomic<int>>;

// The boot-sector test of a volume, by the file-system layer's judge:
// sector 0, then the FAT32 backup (6), the NTFS backup (last sector), the
// exFAT backup region (12). On success the verdict and the deciding sector
// are returned.
bool DetectFsKind(DiskHandle& volume, std::uint64_t sectors, SectorJudge judge,
                  SectorVerdict& verdict, BootSector& boot);
// For a volume of more than 0x20000 sectors runs DetectFsKind and, when it
// succeeds, stores the kind, its name and the deciding sector in the row.
void ProbePartition(DeviceInfo& row, DiskHandle& volume, SectorJudge judge);
// "label (letter: fs)": the label when it has 1 to 31 characters, then the
// letter and file-system name when the volume path is longer than four.
std::string MakeDisplayName(const DeviceInfo& row);
// The file-system name as a volume API reports it ("NTFS", "FAT", "FAT32",
// "exFAT") from libblkid's type and version; other types pass through.
std::string ApiFsName(const std::string& blkidType, const std::string& blkidVersion);
// Kind of an API file-system name (exact, case-sensitive).
std::int32_t FsKindOfApiName(const std::string& name);
// The 32-bit volume serial from a libblkid UUID text (its last 8 hex digits).
std::uint32_t SerialFromUuid(const std::string& uuid);

// The order in which disks get their numbers 0-9: by family (sd, hd, vd,
// xvd, nvme, mmcblk, then loop devices), within a family by the length of
// the leading letters (sdz before sdaa), then with numbers compared by value
// (loop2 before loop10).
std::vector<std::string> OrderDiskNames(std::vector<std::string> names);
bool ListDisks(std::vector<DeviceInfo>& disks);
void ListVolumes(const std::vector<DeviceInfo>& disks, std::vector<DeviceInfo>& volumes,
                 const std::atomic<int>& status, SectorJudge judge);

struct DeviceLists;
// The thread body: lists the disks and their volumes into `lists`; sets the
// status to 2 when no disk was found (and returns false).
bool GetAllPartInfoThread(EnumerationStatus status, SectorJudge judge, DeviceLists& lists);

// The machine's disks and volumes as one enumeration found them.
struct DeviceLists {
  std::vector<DeviceInfo> disks;
  std::vector<DeviceInfo> volumes;

  // The rows of one view: 1 volumes, 2 disks, 3 nothing, else volumes then
  // disks; with the setting "ShowUsbDev" = "1", the removable volumes and
  // then the USB disks.
  void FillView(std::vector<DeviceInfo>& out, int view) const;
  // Volume rows on disk `diskNumber` whose start satisfies
  // first <= start < end; true when any was found.
  bool VolumesInRange(std::vector<DeviceInfo>& out, int diskNumber, std::uint64_t first,
                      std::uint64_t end) const;
};

// One owner's enumerations (the device selection of a window, a command):
// the lists of its last enumeration and whether one is running.
class DeviceEnumerator {
 public:
  DeviceEnumerator() : state_(std::make_shared<Shared>()) {}
  // Runs a full enumeration on its own thread and waits for it (polling
  // `cancelRequested`, when given, as a progress dialog's Stop button
  // would); then fills `out` by view (DeviceLists::FillView). False when
  // another enumeration of this owner is still running, when it failed or
  // was cancelled, or when `out` stays empty. After a cancel the thread
  // finishes the current volume and then ends on its own. `progress`, when
  // given, receives the stage-5 records.
  bool Enumerate(std::vector<DeviceInfo>& out, int view, SectorJudge judge,
                 const std::function<bool()>& cancelRequested = {},
                 std::shared_ptr<ProgressMailbox> progress = nullptr);
  bool Running() const { return state_->running.load(); }
  // Waits until no enumeration thread of this owner runs; false on timeout.
  bool WaitUntilIdle(std::uint32_t timeoutMs) const;
  DeviceLists Lists() const;
  void ReplaceLists(DeviceLists lists);

 private:
  // Shared with the thread, which outlives a waiter that gives up.
  struct Shared {
    std::mutex lock;
    DeviceLists lists;
    std::atomic<bool> running{false};
  };
  std::shared_ptr<Shared> state_;
};

// A disk, partition node or image file described from its own contents: the
// disk row, the partition table and one volume row per partition (or one
// for the whole device when sector 0 is itself a boot sector).
struct DiskDescription {
  DeviceInfo disk;
  std::string container;  // "raw", "E01", "VHD", "VHDX", "VMDK"
  TableKind tableKind = TableKind::kNone;
  std::vector<TablePartition> partitions;
  std::vector<DeviceInfo> volumes;
};
// `known`, when given, numbers the disk as the enumeration did.
bool DescribeDisk(const std::string& path, DiskDescription& out, SectorJudge judge,
                  std::string* why = nullptr, const DeviceLists* known = nullptr);
// The same for a disk the caller has open (`path` names it).
void DescribeOpenDisk(const std::string& path, DiskHandle& disk, DiskDescription& out, SectorJudge judge,
                      const DeviceLists* known = nullptr);
// The volume rows of an open disk or image from its own partition table
// (partitions the system knows take their /dev name and mount point).
std::vector<DeviceInfo> VolumesFromTable(const DeviceInfo& disk, DiskHandle& handle,
                                         SectorJudge judge, PartitionTable* table = nullptr);

}  // namespace ambrel
