// The one read path of the program: 512-byte sectors addressed by 64-bit LBA.
//
// Threads: any thread may read. Every read, with its retry, is serialised by
// the lock of its device. A DiskHandle is a small value: copies share the
// open device, and the device is closed when the last copy is dropped or its
// owner calls Close().
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_device.h"

namespace ambrel {

inline constexpr std::uint32_t kSectorSize = 512;
inline constexpr std::uint64_t kUnknownPartitionSize = 0x0001000000000000ull;  // 2^48 sectors

struct DiskHandle {
  std::shared_ptr<BlockDevice> device;  // null when not open
  std::string name;        // the path, or the partition's display name
  std::string reopenPath;  // device path used to reopen after a failed read
  std::uint64_t lastLba = 0;
  std::uint64_t sizeBytes = 0;

  bool IsOpen() const { return device != nullptr; }
  void Close() { device.reset(); }
};

inline constexpr std::uint32_t kMaxReadSectors = 0x80000;        // 256 MiB
inline constexpr std::uint32_t kMaxReadBytes = 0x10000000;

// Opens a disk, partition node or image file read-only. Fails for a missing
// path, a directory, an unreadable device and anything smaller than one
// sector (whose last LBA would not exist). `why`, when given, receives a
// short reason for messages.
bool OpenByPath(const std::string& path, DiskHandle& out, std::string* why = nullptr);
// Opens the disk at `diskPath` for a volume of `sectorCount` sectors from
// `startLba`; reads use absolute disk LBAs, limited to the volume's last
// sector (2^48 when its size is kUnknownPartitionSize). Fails for 0 sectors.
bool OpenVolumeRange(const std::string& diskPath, std::uint64_t startLba,
                     std::uint64_t sectorCount, const std::string& name, DiskHandle& out);
// The last LBA of a volume of `sectorCount` sectors from `startLba`
// (2^48 when its size is kUnknownPartitionSize; saturated on overflow).
std::uint64_t LastLbaOf(std::uint64_t startLba, std::uint64_t sectorCount);
// Wraps an existing device (tests, decorators); lastLba from its size.
DiskHandle HandleForDevice(std::shared_ptr<BlockDevice> device, std::string name);

bool ReadSectors(DiskHandle& handle, std::uint64_t lba, std::uint32_t count, void* buffer);
bool ReadBytes(DiskHandle& handle, std::uint64_t offset, std::uint32_t length, void* buffer);
// Reads `count` sectors and, when the read fails, the two halves of the
// range in turn, down to single sectors: a bad stretch costs only its own
// sectors. Unreadable sectors read as zero. Returns how many sectors could
// not be read; `bad`, when given, receives their offsets from `lba` in
// ascending order.
std::uint64_t ReadSectorsSalvaging(DiskHandle& handle, std::uint64_t lba, std::uint32_t count, void* buffer,
                                   std::vector<std::uint32_t>* bad = nullptr);
std::uint64_t QueryDeviceSize(DiskHandle& handle);
// Sector count of the device at `path`; false when it cannot be opened or
// holds no whole sector.
bool QuerySectorCount(const std::string& path, std::uint64_t& sectors);
// "Vendor Model" of the disk behind the handle (from sysfs); false when the
// device has none (image files, loop and virtio devices).
bool QueryDeviceModel(DiskHandle& handle, std::string& model);
// True for a removable (USB, card reader) disk.
bool IsUsbDevice(DiskHandle& handle);

// Read statistics of one task: mode 0 none, 1 only 0x4000-sector reads, 2
// every read.
struct ReadStatistics {
  std::atomic<int> mode{0};
  std::atomic<std::uint32_t> reads{0};
  std::atomic<std::uint32_t> failed{0};
};

// The statistics the calling thread's reads are counted in: a task binds
// its own on the thread that runs it, for the life of the binding (none:
// reads are not counted).
class ReadCountBinding {
 public:
  explicit ReadCountBinding(ReadStatistics* stats);
  ~ReadCountBinding();
  ReadCountBinding(const ReadCountBinding&) = delete;
  ReadCountBinding& operator=(const ReadCountBinding&) = delete;

 private:
  ReadStatistics* previous_;
};
// The statistics bound on the calling thread (null when none): a helper
// thread that reads for a task binds the same.
ReadStatistics* BoundReadStatistics();

}  // namespace ambrel
