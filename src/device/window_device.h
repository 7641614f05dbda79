// A window onto part of another device: byte 0 of the window is `offset` on
// the inner device. A volume of a disk image is read through one, so that
// its sector 0 is the volume's boot sector.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/block_device.h"

namespace ambrel {

class WindowDevice final : public BlockDevice {
 public:
  WindowDevice(std::shared_ptr<BlockDevice> inner, std::uint64_t offset, std::uint64_t length,
               std::string path);

  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
  std::uint64_t SizeBytes() override { return length_; }
  bool Reopen() override { return inner_->Reopen(); }
  std::mutex& ReadLock() override { return inner_->ReadLock(); }
  std::string Path() const override { return path_; }
  std::string Container() const override { return inner_->Container(); }

 private:
  std::shared_ptr<BlockDevice> inner_;
  std::uint64_t offset_;
  std::uint64_t length_;
  std::string path_;
};

}  // namespace ambrel
