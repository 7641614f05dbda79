// The one read path of the program: 512-byte sectors addressed by 64-bit LBA.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "device/block_device.h"

namespace ambrel {

inline constexpr std::uint32_t kSectorSize = 512;
inline constexpr std::uint64_t kUnknownPartitionSize = 0x0001000000000000ull;  // 2^48 sectors

struct PartitionInfo;

struct DiskHandle {
  std::shared_ptr<BlockDevice> device;  // null when not open
  std::string name;        // the path, or the partition's display name
  std::string reopenPath;  // device path used to reopen after a failed read
  std::uint64_t lastLba = 0;
  std::uint64_t sizeBytes = 0;

  bool IsOpen() const { return device != nullptr; }
  void Close() { device.reset(); }
};

bool OpenByPath(const std::string& path, DiskHandle& out);
bool OpenPartition(const PartitionInfo& partition, DiskHandle& out);
// Wraps an existing device (tests, decorators); lastLba from its size.
DiskHandle HandleForDevice(std::shared_ptr<BlockDevice> device, std::string name);

bool ReadSectors(DiskHandle& handle, std::uint64_t lba, std::uint32_t count, void* buffer);
bool ReadBytes(DiskHandle& handle, std::uint64_t offset, std::uint32_t length, void* buffer);
std::uint64_t QueryDeviceSize(DiskHandle& handle);

// Read statistics: mode 0 none, 1 only 0x4000-sector reads, 2 every read.
struct ReadStatistics {
  std::atomic<int> mode{0};
  std::atomic<std::uint32_t> reads{0};
  std::atomic<std::uint32_t> failed{0};
};
ReadStatistics& ReadStats();

}  // namespace ambrel
