// A device held in memory: built images for tests and for decoding bytes
// that were already read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/block_device.h"

namespace ambrel {

class MemoryDevice final : public BlockDevice {
 public:
  explicit MemoryDevice(std::vector<std::uint8_t> bytes, std::string path = "memory");

  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
  std::uint64_t SizeBytes() override { return bytes_.size(); }
  bool Reopen() override { return true; }
  std::string Path() const override { return path_; }

  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::string path_;
};

}  // namespace ambrel
