// Messages about the volumes of a device that the commands cannot work on:
// a --partition number the device does not have, a volume without a file
// system the readers know.
#pragma once

#include <string>
#include <vector>

#include "device/disk_handle.h"
#include "volume_loader.h"

namespace ambrel::cli {

std::vector<int> VolumeNumbers(const std::vector<Volume>& volumes);

// "no volume 99 (the image has 3)"; the numbers are listed when they are
// not simply 1 to N ("the disk has 4: 1, 2, 5, 6").
std::string NoVolumeText(int wanted, const std::vector<Volume>& volumes, const std::string& path);

// "volume 2: not NTFS, FAT or exFAT (...)" with why: the boot sector could
// not be read, it is empty, or it holds none of the known signatures.
std::string NotFileSystemText(DiskHandle& disk, const Volume& volume);

// Why a device shows no volume at all: "no volume found (...)" with what
// sector 0 holds.
std::string NoVolumesText(DiskHandle& disk);

// True when `path` names a regular file (a disk image) rather than a device.
bool IsImageFile(const std::string& path);

}  // namespace ambrel::cli
