// Fuzzes the partition-table reader (MBR with its EBR chain, GPT headers and
// entry arrays, the backup GPT) and the boot-sector probe over a disk whose
// bytes are the fuzz input. The input is laid out as sectors 0.. of the
// disk; its tail is also presented as the disk's last sectors (where the
// backup GPT and NTFS backup boot sector live) of a larger disk.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "device/device_enum.h"
#include "device/memory_device.h"
#include "device/partition_table.h"
#include "device/window_device.h"
#include "fs/boot_probe.h"
#include "fs/exfat/exfat_boot_sector.h"
#include "fs/fat/fat_boot_sector.h"
#include "fs/ntfs/ntfs_boot_sector.h"

using namespace ambrel;

namespace {

// Repeats the input so that EBR links and GPT entry LBAs far into the
// disk still find data, without allocating what the input asks for.
class RepeatingDevice final : public BlockDevice {
 public:
  RepeatingDevice(const std::uint8_t* data, std::size_t size, std::uint64_t total)
      : bytes_(data, data + size), total_(total) {}
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= total_ || bytes_.empty()) return 0;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, total_ - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < n; ++i) out[i] = bytes_[(offset + i) % bytes_.size()];
    return static_cast<std::int64_t>(n);
  }
  std::uint64_t SizeBytes() override { return total_; }
  std::string Path() const override { return "fuzz"; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t total_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 512) return 0;
  for (std::size_t at = 0; at + 512 <= size; at += 512) {
    ByteSpan sector(data + at, 512);
    (void)IsNtfsBootSector(sector);
    (void)IsFat16BootSector(sector);
    (void)IsFat32BootSector(sector);
    (void)IsExfatBootSector(sector);
    (void)JudgeSector(sector, size / 512);
  }
  // The same bytes as a disk of their own size and as a 64 GiB disk.
  for (std::uint64_t total : {static_cast<std::uint64_t>(size), std::uint64_t{64} << 30}) {
    auto device = std::make_shared<RepeatingDevice>(data, size, total);
    DiskHandle disk = HandleForDevice(device, "fuzz");
    PartitionTable table = ReadPartitionTable(disk, JudgeSector);
    for (const TablePartition& p : table.partitions) {
      if (p.startLba > disk.lastLba) __builtin_trap();
      auto window = std::make_shared<WindowDevice>(device, p.startLba * 512, p.sectorCount * 512, "v");
      DiskHandle volume = HandleForDevice(window, "v");
      SectorVerdict verdict;
      BootSector boot{};
      DetectFsKind(volume, p.sectorCount, JudgeSector, verdict, boot);
    }
  }
  return 0;
}
