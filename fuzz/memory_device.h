// An in-memory device holding a fuzz input, so that readers run over it
// through the normal read path.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "device/block_device.h"
#include "device/disk_handle.h"

namespace ambrel::fuzz {

class MemoryDevice : public BlockDevice {
 public:
  explicit MemoryDevice(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= bytes_.size()) return 0;
    std::size_t n = std::min<std::uint64_t>(length, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, n);
    return static_cast<std::int64_t>(n);
  }
  std::uint64_t SizeBytes() override { return bytes_.size(); }
  std::string Path() const override { return "memory"; }

 private:
  std::vector<std::uint8_t> bytes_;
};

inline void PutLe(std::uint8_t* p, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace ambrel::fuzz
