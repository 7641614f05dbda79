// The machine's disks and volumes on Linux: whole disks from sysfs (sd, vd,
// nvme, mmcblk, and loop devices with a backing file), their partitions
// with start and length from sysfs, labels and file-system names from
// libblkid and mount points from the mount table.
#include <algorithm>
#include <cctype>
#include <regex>

#include "app/progress.h"
#include "common/text.h"
#include "device/device_enum.h"
#include "device/volume_facts.h"
#include "platform/block_sysfs.h"

namespace ambrel {
namespace {

bool IsWholeDiskName(const std::string& name) {
  static const std::regex disk(R"((sd|vd|xvd|hd)[a-z]+|nvme\d+n\d+|mmcblk\d+|loop\d+)");
  if (!std::regex_match(name, disk)) return false;
  if (!SysfsAttribute(name, "partition").empty()) return false;
  if (name.rfind("loop", 0) == 0) return !SysfsAttribute(name, "loop/backing_file").empty();
  return true;
}

std::size_t LeadingLetters(const std::string& s) {
  std::size_t n = 0;
  while (n < s.size() && std::isalpha(static_cast<unsigned char>(s[n]))) ++n;
  return n;
}

// Numbers compare by value, so that loop2 comes before loop10.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t i2 = i, j2 = j;
      while (i2 < a.size() && digit(a[i2])) ++i2;
      while (j2 < b.size() && digit(b[j2])) ++j2;
      std::string x = a.substr(i, i2 - i), y = b.substr(j, j2 - j);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      i = i2;
      j = j2;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::vector<std::string> WholeDiskNames() {
  std::vector<std::string> names;
  for (const std::string& n : SysfsBlockNames())
    if (IsWholeDiskName(n)) names.push_back(n);
  return OrderDiskNames(std::move(names));
}

void PublishVolumeProgress(const DeviceInfo& row, std::uint32_t found) {
  ScanProgress p;
  p.stage = kStageEnumerate;
  p.u.enumerate.volumesFound = found;
  std::u16string letter = Utf8ToUtf16(Utf8Prefix(row.driveLetter, 1));
  p.u.enumerate.letter = letter.empty() ? 0 : letter[0];
  std::string fsName = Utf8CutBytes(Utf8Prefix(row.fsName, 63), sizeof(p.u.enumerate.fsName) - 1);
  std::string label = Utf8CutBytes(Utf8Prefix(row.volumeLabel, 63), sizeof(p.u.enumerate.label) - 1);
  fsName.copy(p.u.enumerate.fsName, fsName.size());
  label.copy(p.u.enumerate.label, label.size());
  PublishProgress(p);
}

DeviceInfo VolumeRowOn(const DeviceInfo& disk, const std::string& partName, std::uint64_t start,
                       std::uint64_t sectors, const std::map<std::string, std::string>& mounts) {
  DeviceInfo row;
  row.kind = 1;
  row.startLba = start;
  row.sectorCount = sectors;
  row.volumePath = "/dev/" + partName;
  auto mount = mounts.find(SysfsAttribute(partName, "dev"));
  row.driveLetter = mount != mounts.end() ? mount->second : partName;
  if (mount != mounts.end()) row.freeSectors = FreeBytesAt(mount->second) / kSectorSize;
  row.diskNumber = disk.diskNumber;
  row.diskName = disk.diskName;
  row.diskPath = disk.diskPath;
  row.displayName = disk.displayName;
  row.diskSectorCount = disk.diskSectorCount;
  row.removable = disk.removable;
  return row;
}

}  // namespace

std::vector<std::string> OrderDiskNames(std::vector<std::string> names) {
  auto family = [](const std::string& n) {
    static const char* const kFamilies[] = {"sd", "hd", "vd", "xvd", "nvme", "mmcblk", "loop"};
    for (int i = 0; i < 7; ++i)
      if (n.rfind(kFamilies[i], 0) == 0) return i;
    return 7;
  };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    int fa = family(a), fb = family(b);
    if (fa != fb) return fa < fb;
    std::size_t la = LeadingLetters(a), lb = LeadingLetters(b);
    return la != lb ? la < lb : NaturalLess(a, b);
  });
  return names;
}

bool ListDisks(std::vector<DeviceInfo>& disks) {
  std::vector<std::string> names = WholeDiskNames();
  for (int n = 0; n < kMaxDisks && n < static_cast<int>(names.size()); ++n) {
    std::string path = "/dev/" + names[n];
    DiskHandle h;
    if (!OpenByPath(path, h)) continue;
    std::uint64_t sectors = QueryDeviceSize(h) / kSectorSize;
    if (sectors == 0) continue;
    DeviceInfo row;
    row.kind = 0;
    row.diskNumber = n;
    row.sectorCount = row.diskSectorCount = sectors;
    if (!QueryDeviceModel(h, row.displayName)) row.displayName = path;
    row.diskName = row.displayName;
    row.diskPath = path;
    row.removable = IsUsbDevice(h) ? 1 : 0;
    disks.push_back(std::move(row));
  }
  return !disks.empty();
}

void ListVolumes(const std::vector<DeviceInfo>& disks, std::vector<DeviceInfo>& volumes,
                 const std::atomic<int>& status, SectorJudge judge) {
  std::map<std::string, std::string> mounts = MountPointsByDevice();
  for (const DeviceInfo& disk : disks) {
    std::string diskName = disk.diskPath.substr(5);  // after "/dev/"
    std::vector<SysfsPartition> parts = SysfsPartitionsOf(diskName);
    if (parts.empty()) {
      // Partitions the kernel did not list (a loop device attached without
      // partition scanning) or a disk that is itself one volume: read the
      // disk's own table.
      if (status.load() == 2) return;
      DiskHandle handle;
      if (!OpenByPath(disk.diskPath, handle)) continue;
      for (DeviceInfo& row : VolumesFromTable(disk, handle, judge)) {
        volumes.push_back(std::move(row));
        PublishVolumeProgress(volumes.back(), static_cast<std::uint32_t>(volumes.size()));
      }
      continue;
    }
    for (const SysfsPartition& p : parts) {
      if (status.load() == 2) return;
      DeviceInfo row = VolumeRowOn(disk, p.name, p.start, p.size, mounts);
      DiskHandle volume;
      if (!OpenByPath(row.volumePath, volume)) continue;
      BlkidFacts facts;
      bool known = ProbeWithBlkid(row.volumePath, 0, 0, facts);
      FillVolumeFacts(row, volume, known ? &facts : nullptr, judge);
      volumes.push_back(std::move(row));
      PublishVolumeProgress(volumes.back(), static_cast<std::uint32_t>(volumes.size()));
    }
  }
}

}  // namespace ambrel
