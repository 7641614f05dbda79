#include "device/disk_handle.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "device/device_opener.h"
#include "platform/block_sysfs.h"
#include "platform/file_device.h"

namespace ambrel {
namespace {

thread_local ReadStatistics* t_counted = nullptr;

void CountRead(std::uint32_t count, bool ok) {
  if (!t_counted) return;
  ReadStatistics& stats = *t_counted;
  int mode = stats.mode.load(std::memory_order_relaxed);
  if ((mode == 1 && count == 0x4000) || mode == 2) {
    stats.reads.fetch_add(1, std::memory_order_relaxed);
    if (!ok) stats.failed.fetch_add(1, std::memory_order_relaxed);
  }
}

void SetLastLbaFromSize(DiskHandle& handle) {
  handle.lastLba = handle.sizeBytes >= kSectorSize ? handle.sizeBytes / kSectorSize - 1 : 0;
}

}  // namespace

ReadCountBinding::ReadCountBinding(ReadStatistics* stats) : previous_(t_counted) { t_counted = stats; }
ReadCountBinding::~ReadCountBinding() { t_counted = previous_; }
ReadStatistics* BoundReadStatistics() { return t_counted; }

bool OpenByPath(const std::string& path, DiskHandle& out, std::string* why) {
  out = DiskHandle{};
  std::shared_ptr<BlockDevice> device = OpenDevice(path, why);
  if (!device) return false;
  std::uint64_t size = device->SizeBytes();
  if (size < kSectorSize) {
    // A last LBA of size / 512 - 1 would wrap to 2^64 - 1 here.
    if (why) *why = size == 0 ? "empty or unreadable size" : "smaller than one sector";
    return false;
  }
  out.device = std::move(device);
  out.name = path;
  out.reopenPath = path;
  out.sizeBytes = size;
  SetLastLbaFromSize(out);
  return true;
}

bool OpenVolumeRange(const std::string& diskPath, std::uint64_t startLba,
                     std::uint64_t sectorCount, const std::string& name, DiskHandle& out) {
  out = DiskHandle{};
  if (sectorCount == 0) return false;
  std::shared_ptr<BlockDevice> device = OpenDevice(diskPath);
  if (!device) return false;
  out.device = std::move(device);
  out.name = name;
  out.reopenPath = diskPath;
  out.lastLba = LastLbaOf(startLba, sectorCount);
  return true;
}

std::uint64_t LastLbaOf(std::uint64_t startLba, std::uint64_t sectorCount) {
  if (sectorCount == kUnknownPartitionSize) return kUnknownPartitionSize;
  if (startLba > UINT64_MAX - sectorCount) return UINT64_MAX;  // saturated; reads past the end simply fail
  return startLba + sectorCount - 1;
}

DiskHandle HandleForDevice(std::shared_ptr<BlockDevice> device, std::string name) {
  DiskHandle handle;
  if (!device) return handle;
  handle.reopenPath = device->Path();
  handle.sizeBytes = device->SizeBytes();
  handle.device = std::move(device);
  handle.name = std::move(name);
  SetLastLbaFromSize(handle);
  return handle;
}

bool ReadSectors(DiskHandle& handle, std::uint64_t lba, std::uint32_t count, void* buffer) {
  // Larger requests fail before the buffer is touched: the caller's buffer
  // may be smaller than count sectors, and count * 512 must not wrap.
  if (count > kMaxReadSectors || buffer == nullptr) {
    CountRead(count, false);
    return false;
  }
  // Every byte that does not arrive reads as zero: the whole buffer when
  // nothing is read, the clipped tail here, the missing part of a short or
  // failed read in ReadBytes. (Zeroing only those parts, instead of the whole
  // buffer before the read, saves a second pass over 8 MiB chunks.)
  const std::size_t wanted = std::size_t{count} * kSectorSize;
  if (lba > handle.lastLba || lba > UINT64_MAX / kSectorSize || !handle.device) {
    std::memset(buffer, 0, wanted);
    return false;
  }
  if (count != 0 && count - 1 > handle.lastLba - lba) {
    count = static_cast<std::uint32_t>(handle.lastLba - lba + 1);
    std::memset(static_cast<std::uint8_t*>(buffer) + std::size_t{count} * kSectorSize, 0,
                wanted - std::size_t{count} * kSectorSize);
  }
  bool ok = ReadBytes(handle, lba * kSectorSize, count * kSectorSize, buffer);
  CountRead(count, ok);
  return ok;
}

// The bytes go straight into the caller's buffer: pread from the page cache
// is a copy already, and a second copy through a shared staging buffer
// halved the throughput of 8 MiB chunk reads. The lock still serialises
// every read, its retry and the reopen.
bool ReadBytes(DiskHandle& handle, std::uint64_t offset, std::uint32_t length, void* buffer) {
  if (length > kMaxReadBytes || !handle.device || buffer == nullptr) return false;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::lock_guard<std::mutex> guard(handle.device->ReadLock());
  std::int64_t got = handle.device->ReadAt(offset, out, length);
  if (got < 0) {
    // One retry on a freshly opened descriptor at the same position.
    got = handle.device->Reopen() ? handle.device->ReadAt(offset, out, length) : -1;
    if (got < 0) {
      std::memset(out, 0, length);  // whatever a failed transfer left is not data
      return false;
    }
  }
  std::uint64_t arrived = static_cast<std::uint64_t>(got) < length ? got : length;
  // A short read keeps the bytes that arrived; the rest stays zero.
  if (arrived < length) std::memset(out + arrived, 0, length - arrived);
  return arrived == length;
}

namespace {

std::uint64_t SalvageRange(DiskHandle& handle, std::uint64_t lba, std::uint32_t offset, std::uint32_t count,
                           std::uint8_t* buffer, std::vector<std::uint32_t>* bad) {
  if (count == 0) return 0;
  std::uint8_t* at = buffer + std::size_t{offset} * kSectorSize;
  if (ReadSectors(handle, lba + offset, count, at)) return 0;
  if (count == 1) {
    std::memset(at, 0, kSectorSize);
    if (bad) bad->push_back(offset);
    return 1;
  }
  const std::uint32_t half = count / 2;
  return SalvageRange(handle, lba, offset, half, buffer, bad) +
         SalvageRange(handle, lba, offset + half, count - half, buffer, bad);
}

}  // namespace

std::uint64_t ReadSectorsSalvaging(DiskHandle& handle, std::uint64_t lba, std::uint32_t count, void* buffer,
                                   std::vector<std::uint32_t>* bad) {
  if (count > kMaxReadSectors || buffer == nullptr) return count;
  return SalvageRange(handle, lba, 0, count, static_cast<std::uint8_t*>(buffer), bad);
}

std::uint64_t QueryDeviceSize(DiskHandle& handle) {
  return handle.device ? handle.device->SizeBytes() : 0;
}

bool QuerySectorCount(const std::string& path, std::uint64_t& sectors) {
  sectors = 0;
  std::shared_ptr<BlockDevice> device = OpenDevice(path);
  if (!device) return false;
  sectors = device->SizeBytes() / kSectorSize;
  return sectors != 0;
}

bool QueryDeviceModel(DiskHandle& handle, std::string& model) {
  return SysfsDiskModel(handle.reopenPath, model);
}

bool IsUsbDevice(DiskHandle& handle) { return SysfsDiskRemovable(handle.reopenPath); }

}  // namespace ambrel
