// What the device selection needs besides the core's enumeration: a device
// row for a disk image file, and why the machine's disks could not be read.
//
// Threads: ImageRowFromFile reads the file (worker or GUI thread before any
// list is shown; it only opens and sizes the file); PermissionProblem looks
// at device nodes only, it never reads a device.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/partition_info.h"

namespace ambrel::ui {

inline constexpr std::uint64_t kMinImageSectors = 0x40000;  // more than 128 MiB

enum class ImageCheck { kAccepted, kCannotOpen, kTooSmall };

// Opens the image and makes its disk row: kind 0, start 0, the sector count
// as size and disk size, names and disk path from the file's path, removable
// below 0x10E00000 whole GiB sectors. Images of 128 MiB or less are refused
// unless they hold a partition table or a file system that can be parsed.
ImageCheck ImageRowFromFile(const std::string& path, DeviceInfo& row);
const char* ImageCheckMessage(ImageCheck check);

// A text that says that the block devices exist but cannot be opened by
// this user, and how to fix it; empty when that is not the problem.
std::string PermissionProblem();

}  // namespace ambrel::ui
