// Facts about Linux block devices from sysfs (/sys/class/block) and the
// mount table (/proc/self/mountinfo). Everything here only reads.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ambrel {

// "sda1" for /dev/sda1 (found through the node's device number); empty when
// the path is not a block device node.
std::string SysfsNameOfNode(const std::string& devicePath);
// The whole disk holding a block device ("sda" for "sda1"; itself for a disk).
std::string SysfsDiskOf(const std::string& name);
// One attribute file of /sys/class/block/<name>/, trailing blank lines and
// blanks removed; empty when absent.
std::string SysfsAttribute(const std::string& name, const std::string& attribute);

// "Vendor Model" of the disk behind a device node, for disks on SCSI, ATA,
// USB and SD buses; false otherwise (virtio, NVMe, loop, image files).
bool SysfsDiskModel(const std::string& devicePath, std::string& model);
// True when the disk behind the node is removable or sits on a USB bus.
bool SysfsDiskRemovable(const std::string& devicePath);

// Names of every block device known to sysfs, sorted.
std::vector<std::string> SysfsBlockNames();

struct SysfsPartition {
  std::string name;        // "sda1"
  int number = 0;          // the partition number
  std::uint64_t start = 0;  // first sector on the disk (512-byte units)
  std::uint64_t size = 0;   // sectors
};
// The partitions of a whole disk, in partition-number order.
std::vector<SysfsPartition> SysfsPartitionsOf(const std::string& disk);

// Mount points by device number ("8:1" -> "/mnt/data"); the first mount of
// each device wins.
std::map<std::string, std::string> MountPointsByDevice();

// Free bytes of the file system mounted at `mountPoint` (0 when unknown).
std::uint64_t FreeBytesAt(const std::string& mountPoint);

}  // namespace ambrel
