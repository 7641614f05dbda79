// Read-only access to a device node or an image file through a POSIX file
// descriptor. The descriptor is always opened O_RDONLY: the program never
// writes to the media it recovers from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/block_device.h"

namespace ambrel {

enum class OpenFailure { kNone, kMissing, kDirectory, kNotReadable, kNotDisk, kOther };

// Opens `path` for reading. Only regular files and block devices are
// accepted (directories, FIFOs and character devices are refused). On failure returns null
// and, when `failure` is given, the reason.
std::shared_ptr<BlockDevice> OpenFileDevice(const std::string& path,
                                            OpenFailure* failure = nullptr);

// Text of an OpenFailure for messages ("no such file", ...).
const char* OpenFailureText(OpenFailure failure);

// True when `path` is a block device node (e.g. /dev/sda).
bool IsBlockDeviceNode(const std::string& path);

}  // namespace ambrel
