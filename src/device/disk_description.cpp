// One disk, partition node or image file described from its own partition
// table, so that an image is worked on like a disk: each of its partitions
// becomes a volume row read through a window onto the image.
#include <map>

#include "device/device_enum.h"
#include "device/volume_facts.h"
#include "device/window_device.h"
#include "platform/block_sysfs.h"

namespace ambrel {
namespace {

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

DeviceInfo DiskRowFor(const std::string& path, DiskHandle& disk, const DeviceLists* known) {
  DeviceInfo row;
  row.kind = 0;
  row.sectorCount = row.diskSectorCount = disk.lastLba + 1;
  if (!QueryDeviceModel(disk, row.displayName)) row.displayName = path;
  row.diskName = row.displayName;
  row.diskPath = path;
  row.removable = IsUsbDevice(disk) ? 1 : 0;
  if (known)
    for (const DeviceInfo& d : known->disks)
      if (d.diskPath == path) row.diskNumber = d.diskNumber;
  return row;
}

// The name that stands where a drive letter would: the mount point of a
// partition the system knows, else "<file>#<number>".
struct SystemPartitions {
  std::vector<SysfsPartition> parts;
  std::map<std::string, std::string> mounts;
};

void NameVolume(DeviceInfo& row, const std::string& path, int number, const SystemPartitions& sys) {
  for (const SysfsPartition& p : sys.parts) {
    if (p.start != row.startLba || p.size != row.sectorCount) continue;
    row.volumePath = "/dev/" + p.name;
    auto mount = sys.mounts.find(SysfsAttribute(p.name, "dev"));
    row.driveLetter = mount != sys.mounts.end() ? mount->second : p.name;
    if (mount != sys.mounts.end()) row.freeSectors = FreeBytesAt(mount->second) / kSectorSize;
    return;
  }
  if (number == 0) {  // the whole device is the volume
    row.volumePath = path;
    std::string node = SysfsNameOfNode(path);
    auto mount = sys.mounts.find(SysfsAttribute(node, "dev"));
    row.driveLetter = mount != sys.mounts.end() ? mount->second : BaseName(path);
    if (mount != sys.mounts.end()) row.freeSectors = FreeBytesAt(mount->second) / kSectorSize;
    return;
  }
  row.volumePath = path + "#" + std::to_string(number);
  row.driveLetter = BaseName(path) + "#" + std::to_string(number);
}

DeviceInfo VolumeRowFor(const DeviceInfo& disk, DiskHandle& diskHandle, const std::string& path,
                        int number, std::uint64_t start, std::uint64_t sectors,
                        const SystemPartitions& sys, SectorJudge judge) {
  DeviceInfo row;
  row.kind = 1;
  row.startLba = start;
  row.sectorCount = sectors;
  row.diskNumber = disk.diskNumber;
  row.diskName = disk.diskName;
  row.diskPath = disk.diskPath;
  row.diskSectorCount = disk.diskSectorCount;
  row.removable = disk.removable;
  NameVolume(row, path, number, sys);
  auto window = std::make_shared<WindowDevice>(diskHandle.device, start * kSectorSize,
                                               sectors * kSectorSize, path);
  DiskHandle volume = HandleForDevice(window, row.volumePath);
  BlkidFacts facts;
  // The system's probe reads the file's own bytes: inside a container they
  // are not the media's. Where the boot sector names NTFS, FAT or exFAT the
  // probe is only asked for those (the label and serial): every other
  // prober's reads took about 4 ms a volume.
  bool known = false;
  if (diskHandle.device->Container() == "raw") {
    SectorVerdict verdict;
    BootSector boot{};
    const bool ours = DetectFsKind(volume, sectors, judge, verdict, boot);
    known = ProbeWithBlkid(path, start * kSectorSize, sectors * kSectorSize, facts,
                           ours ? BlkidProbers::kNtfsFatExfat : BlkidProbers::kAll);
  }
  FillVolumeFacts(row, volume, known ? &facts : nullptr, judge, true);
  return row;
}

}  // namespace

std::vector<DeviceInfo> VolumesFromTable(const DeviceInfo& disk, DiskHandle& handle,
                                         SectorJudge judge, PartitionTable* tableOut) {
  const std::string& path = disk.diskPath;
  SystemPartitions sys;
  sys.parts = SysfsPartitionsOf(SysfsNameOfNode(path));
  sys.mounts = MountPointsByDevice();
  PartitionTable table = ReadPartitionTable(handle, judge);
  std::vector<DeviceInfo> volumes;
  for (const TablePartition& p : table.partitions)
    volumes.push_back(VolumeRowFor(disk, handle, path, p.number, p.startLba, p.sectorCount, sys, judge));
  if (table.kind == TableKind::kNone) {
    DeviceInfo whole = VolumeRowFor(disk, handle, path, 0, 0, handle.lastLba + 1, sys, judge);
    if (whole.fsKind != kFsUnknown || !whole.fsName.empty()) volumes.push_back(std::move(whole));
  }
  if (tableOut) *tableOut = std::move(table);
  return volumes;
}

bool DescribeDisk(const std::string& path, DiskDescription& out, SectorJudge judge,
                  std::string* why, const DeviceLists* known) {
  out = DiskDescription{};
  DiskHandle disk;
  if (!OpenByPath(path, disk, why)) return false;
  DescribeOpenDisk(path, disk, out, judge, known);
  return true;
}

void DescribeOpenDisk(const std::string& path, DiskHandle& disk, DiskDescription& out, SectorJudge judge,
                      const DeviceLists* known) {
  out = DiskDescription{};
  out.disk = DiskRowFor(path, disk, known);
  out.container = disk.device->Container();
  PartitionTable table;
  out.volumes = VolumesFromTable(out.disk, disk, judge, &table);
  out.tableKind = table.kind;
  out.partitions = std::move(table.partitions);
}

}  // namespace ambrel
