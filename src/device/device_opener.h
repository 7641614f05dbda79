// The one way from a path to the block device that the readers, the copy-out
// and the deep scan read: a disk or partition node, a raw image file, or an
// image in a container format (E01, VHD/VHDX, VMDK), always read-only.
// Tests substitute the opener to put memory or faulty devices behind paths.
//
// Threads: OpenDevice may be called from any thread; the opener is replaced
// only while no device is being opened (test set-up).
#pragma once

#include <memory>
#include <string>

#include "platform/block_device.h"

namespace ambrel {

class DeviceOpener {
 public:
  virtual ~DeviceOpener() = default;
  // Null with `why` set (when given) to a short reason when the path cannot
  // be opened.
  virtual std::shared_ptr<BlockDevice> Open(const std::string& path, std::string* why) = 0;
};

// Regular files and block devices; container images by their signatures.
class SystemDeviceOpener final : public DeviceOpener {
 public:
  std::shared_ptr<BlockDevice> Open(const std::string& path, std::string* why) override;
};

// Opens through the opener in use (the system one unless substituted).
std::shared_ptr<BlockDevice> OpenDevice(const std::string& path, std::string* why = nullptr);

// Puts `opener` in use (null: the system opener again); returns the one
// that was in use.
std::shared_ptr<DeviceOpener> SubstituteDeviceOpener(std::shared_ptr<DeviceOpener> opener);

}  // namespace ambrel
