#include "device/window_device.h"

namespace ambrel {

WindowDevice::WindowDevice(std::shared_ptr<BlockDevice> inner, std::uint64_t offset,
                           std::uint64_t length, std::string path)
    : inner_(std::move(inner)), offset_(offset), length_(length), path_(std::move(path)) {}

std::int64_t WindowDevice::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset >= length_) return 0;
  std::uint64_t room = length_ - offset;
  std::size_t n = room < length ? static_cast<std::size_t>(room) : length;
  if (offset_ > UINT64_MAX - offset) return -1;
  return inner_->ReadAt(offset_ + offset, buffer, n);
}

}  // namespace ambrel
