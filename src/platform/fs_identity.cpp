#include "platform/fs_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <set>
#include <vector>

#include "platform/block_sysfs.h"

namespace ambrel {

namespace {

// "8:1" as found in /sys/class/block/<name>/dev.
std::string DeviceNumberText(dev_t dev) {
  char text[32];
  std::snprintf(text, sizeof text, "%u:%u", major(dev), minor(dev));
  return text;
}

// Device numbers of the disk holding `rdev` and of each of its partitions.
std::set<std::string> DeviceNumbersOfDisk(const std::string& sourcePath, dev_t rdev) {
  std::set<std::string> numbers{DeviceNumberText(rdev)};
  const std::string name = SysfsNameOfNode(sourcePath);
  if (name.empty()) return numbers;
  const std::string disk = SysfsDiskOf(name);
  if (disk.empty()) return numbers;
  const std::string diskNumber = SysfsAttribute(disk, "dev");
  if (!diskNumber.empty()) numbers.insert(diskNumber);
  for (const SysfsPartition& part : SysfsPartitionsOf(disk)) {
    const std::string number = SysfsAttribute(part.name, "dev");
    if (!number.empty()) numbers.insert(number);
  }
  return numbers;
}

}  // namespace

bool FolderOnSourceDevice(const std::string& folder, const std::string& sourcePath) {
  struct stat target {};
  struct stat source {};
  if (::stat(folder.c_str(), &target) != 0 || ::stat(sourcePath.c_str(), &source) != 0) return false;
  if (S_ISBLK(source.st_mode))
    return DeviceNumbersOfDisk(sourcePath, source.st_rdev).count(DeviceNumberText(target.st_dev)) > 0;
  // Writing other files beside an image file cannot change the image's bytes.
  return false;
}

}  // namespace ambrel
