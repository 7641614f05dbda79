// A readable device: a disk, a partition or an image file. Faults, caching
// and in-memory test images are decorators or other implementations of it.
// Devices are only ever opened for reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace ambrel {

class BlockDevice {
 public:
  virtual ~BlockDevice() = default;
  // Reads up to `length` bytes at `offset`; returns the bytes read, or -1 on
  // an I/O error. A short count means the end or a partial read.
  virtual std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;
  // Size in bytes; 0 when it cannot be found.
  virtual std::uint64_t SizeBytes() = 0;
  // Reopens the underlying handle after a failed read (same identity for
  // every holder of this object); false when that fails.
  virtual bool Reopen() { return false; }
  virtual std::string Path() const = 0;
  // The container format the media is read from ("raw" for a plain file or
  // device node; "E01", "VHD", "VHDX", "VMDK" for images read through their
  // libraries). Decorators pass their inner device's answer on.
  virtual std::string Container() const { return "raw"; }

  // Serialises one read with its retry and reopen: every holder of the
  // device shares it, and no other device waits on it. Decorators pass on
  // their inner device's lock, since the inner handle (a container
  // library's above all) is what must not be entered twice.
  virtual std::mutex& ReadLock() { return readLock_; }

 private:
  std::mutex readLock_;
};

}  // namespace ambrel
