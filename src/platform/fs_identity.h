// Whether a folder lies on the device being recovered. Writing recovered
// files there could overwrite the very sectors still to be read.
// Any thread; only reads (stat, sysfs).
#pragma once

#include <string>

namespace ambrel {

// For a block device source: true when the folder's file system lives on
// that device, on any partition of its disk, or on the whole disk.
// For an image file source: false, since writing other files beside an
// image cannot change it. False when either cannot be examined.
bool FolderOnSourceDevice(const std::string& folder, const std::string& sourcePath);

}  // namespace ambrel
