#include "device/device_opener.h"

#include <mutex>

#include "platform/container_image.h"
#include "platform/file_device.h"

namespace ambrel {
namespace {

std::mutex& OpenerLock() {
  static std::mutex lock;
  return lock;
}

std::shared_ptr<DeviceOpener>& OpenerInUse() {
  static std::shared_ptr<DeviceOpener> opener = std::make_shared<SystemDeviceOpener>();
  return opener;
}

}  // namespace

std::shared_ptr<BlockDevice> SystemDeviceOpener::Open(const std::string& path, std::string* why) {
  OpenFailure failure = OpenFailure::kNone;
  std::shared_ptr<BlockDevice> raw = OpenFileDevice(path, &failure);
  if (!raw) {
    if (why) *why = OpenFailureText(failure);
    return nullptr;
  }
  if (IsBlockDeviceNode(path)) return raw;
  const ContainerKind kind = DetectContainer(path);
  if (kind == ContainerKind::kNone) return raw;
  return OpenContainerImage(path, kind, why);
}

std::shared_ptr<BlockDevice> OpenDevice(const std::string& path, std::string* why) {
  std::shared_ptr<DeviceOpener> opener;
  {
    std::lock_guard<std::mutex> guard(OpenerLock());
    opener = OpenerInUse();
  }
  return opener->Open(path, why);
}

std::shared_ptr<DeviceOpener> SubstituteDeviceOpener(std::shared_ptr<DeviceOpener> opener) {
  std::lock_guard<std::mutex> guard(OpenerLock());
  std::shared_ptr<DeviceOpener> previous = OpenerInUse();
  OpenerInUse() = opener ? std::move(opener) : std::make_shared<SystemDeviceOpener>();
  return previous;
}

}  // namespace ambrel
