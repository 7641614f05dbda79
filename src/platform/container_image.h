// Disk images in container formats, read through their libraries: EnCase
// EWF (E01, with its segment files E02...), Microsoft VHD and VHDX (libvhdi)
// and VMware VMDK (libvmdk). Always opened read-only. The media inside the
// container is what the readers see; its size is the container's media size.
//
// Threads: a container device serialises its own reads (the libraries'
// handles are not safe for concurrent use).
#pragma once

#include <memory>
#include <string>

#include "platform/block_device.h"

namespace ambrel {

enum class ContainerKind { kNone, kEwf, kVhd, kVmdk };

// The container format of the file at `path`, by its libraries' signature
// checks; kNone for a plain image, a device node or an unreadable file.
ContainerKind DetectContainer(const std::string& path);

// Opens the container; null with `why` set ("damaged or incomplete E01
// image: ...") when its library refuses it or it holds no media.
std::shared_ptr<BlockDevice> OpenContainerImage(const std::string& path, ContainerKind kind,
                                                std::string* why);

}  // namespace ambrel
