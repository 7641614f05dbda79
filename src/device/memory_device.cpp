#include "device/memory_device.h"

#include <cstring>

namespace ambrel {

MemoryDevice::MemoryDevice(std::vector<std::uint8_t> bytes, std::string path)
    : bytes_(std::move(bytes)), path_(std::move(path)) {}

std::int64_t MemoryDevice::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset >= bytes_.size()) return 0;
  std::size_t n = bytes_.size() - offset < length ? bytes_.size() - offset : length;
  std::memcpy(buffer, bytes_.data() + offset, n);
  return static_cast<std::int64_t>(n);
}

}  // namespace ambrel
