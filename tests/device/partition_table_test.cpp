// MBR/EBR and GPT decoding on the fixture disks (made by sfdisk) and on
// crafted tables: EBR loops, corrupt GPT headers, a disk without a table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>
#include <zlib.h>

#include "device/disk_handle.h"
#include "device/memory_device.h"
#include "device/partition_table.h"
#include "device/window_device.h"
#include "support/test_paths.h"
#include "fs/boot_probe.h"

namespace ambrel {
namespace {

struct Expected {
  int number;
  std::uint64_t start, sectors;
};

void ExpectPartitions(const PartitionTable& t, const std::vector<Expected>& want) {
  ASSERT_EQ(t.partitions.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(t.partitions[i].number, want[i].number);
    EXPECT_EQ(t.partitions[i].startLba, want[i].start);
    EXPECT_EQ(t.partitions[i].sectorCount, want[i].sectors);
  }
}

TEST(PartitionTableFixtures, MbrWithLogicalPartitions) {
  DiskHandle disk;
  ASSERT_TRUE(OpenByPath(test::FixtureImage("disk-mbr"), disk));
  PartitionTable t = ReadPartitionTable(disk, JudgeSector);
  EXPECT_EQ(t.kind, TableKind::kMbr);
  // As `sfdisk -d` lists them; the extended container itself is not a volume.
  ExpectPartitions(t, {{1, 2048, 65536}, {2, 67584, 81920}, {5, 151552, 32768}, {6, 186368, 16384}});
  EXPECT_EQ(t.partitions[0].mbrType, 0x06);
  EXPECT_EQ(t.partitions[1].mbrType, 0x0C);
  EXPECT_EQ(t.partitions[2].mbrType, 0x07);
}

TEST(PartitionTableFixtures, Gpt) {
  DiskHandle disk;
  ASSERT_TRUE(OpenByPath(test::FixtureImage("disk-gpt"), disk));
  PartitionTable t = ReadPartitionTable(disk, JudgeSector);
  EXPECT_EQ(t.kind, TableKind::kGpt);
  ExpectPartitions(t, {{1, 2048, 81920}, {2, 83968, 143360}, {3, 227328, 16384}, {4, 243712, 40960}});
  EXPECT_EQ(t.partitions[0].gptType, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
}

// The first and last MiB of the fixture GPT disk (both tables), zeros in
// between, for corruption without a 140 MiB copy.
struct HeadTail {
  std::vector<std::uint8_t> head, tail;
  std::uint64_t size = 0;
};

class HeadTailDevice final : public BlockDevice {
 public:
  explicit HeadTailDevice(HeadTail d) : d_(std::move(d)) {}
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= d_.size) return 0;
    std::size_t n = std::min<std::uint64_t>(length, d_.size - offset);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint64_t tailStart = d_.size - d_.tail.size();
    for (std::size_t i = 0; i < n; ++i) {
      std::uint64_t at = offset + i;
      out[i] = at < d_.head.size() ? d_.head[at] : at >= tailStart ? d_.tail[at - tailStart] : 0;
    }
    return static_cast<std::int64_t>(n);
  }
  std::uint64_t SizeBytes() override { return d_.size; }
  std::string Path() const override { return "head-tail"; }

 private:
  HeadTail d_;
};

HeadTail GptBytes() {
  DiskHandle disk;
  EXPECT_TRUE(OpenByPath(test::FixtureImage("disk-gpt"), disk));
  HeadTail d;
  d.size = disk.sizeBytes;
  d.head.resize(1 << 20);
  d.tail.resize(1 << 20);
  EXPECT_TRUE(ReadBytes(disk, 0, 1 << 20, d.head.data()));
  EXPECT_TRUE(ReadBytes(disk, d.size - (1 << 20), 1 << 20, d.tail.data()));
  return d;
}

PartitionTable TableOf(HeadTail d) {
  DiskHandle h = HandleForDevice(std::make_shared<HeadTailDevice>(std::move(d)), "mem");
  return ReadPartitionTable(h, JudgeSector);
}

PartitionTable TableOf(std::vector<std::uint8_t> bytes) {
  DiskHandle h = HandleForDevice(std::make_shared<MemoryDevice>(std::move(bytes)), "mem");
  return ReadPartitionTable(h, JudgeSector);
}

TEST(PartitionTableCrafted, GptFallsBackToBackupHeader) {
  HeadTail bytes = GptBytes();
  bytes.head[512 + 24] ^= 0x01;  // current LBA: breaks the header CRC
  PartitionTable t = TableOf(bytes);
  EXPECT_EQ(t.kind, TableKind::kGpt);
  EXPECT_EQ(t.partitions.size(), 4u);

  // Both headers broken: the protective MBR alone yields no volumes.
  bytes.tail[bytes.tail.size() - 512 + 24] ^= 0x01;
  t = TableOf(bytes);
  EXPECT_EQ(t.kind, TableKind::kMbr);
  EXPECT_TRUE(t.partitions.empty());
}

TEST(PartitionTableCrafted, GptRejectsBadEntryArrays) {
  HeadTail bytes = GptBytes();
  auto fixHeaderCrc = [](std::vector<std::uint8_t>& b, std::size_t at) {
    std::memset(&b[at + 16], 0, 4);
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, &b[at], 92));
    std::memcpy(&b[at + 16], &crc, 4);
  };
  HeadTail huge = bytes;
  std::uint32_t count = 0x100000;  // a million entries
  std::memcpy(&huge.head[512 + 80], &count, 4);
  fixHeaderCrc(huge.head, 512);
  std::memcpy(&huge.tail[huge.tail.size() - 512 + 80], &count, 4);
  fixHeaderCrc(huge.tail, huge.tail.size() - 512);
  EXPECT_TRUE(TableOf(huge).partitions.empty());

  HeadTail badEntry = bytes;
  badEntry.head[1024 + 32] ^= 0x10;  // entry array CRC no longer matches: backup array used
  PartitionTable t = TableOf(badEntry);
  EXPECT_EQ(t.partitions.size(), 4u);
}

void PutSlot(std::vector<std::uint8_t>& b, std::uint64_t sector, int slot, std::uint8_t type,
             std::uint32_t start, std::uint32_t count) {
  std::uint8_t* s = &b[sector * 512 + 446 + 16 * slot];
  s[0] = 0;
  s[4] = type;
  std::memcpy(s + 8, &start, 4);
  std::memcpy(s + 12, &count, 4);
  b[sector * 512 + 510] = 0x55;
  b[sector * 512 + 511] = 0xAA;
}

TEST(PartitionTableCrafted, EbrChainLoopsEndAndBadSlotsAreDropped) {
  std::vector<std::uint8_t> b(4096 * 512);
  PutSlot(b, 0, 0, 0x83, 64, 100);
  PutSlot(b, 0, 1, 0x07, 200, 100000);    // past the end: dropped
  PutSlot(b, 0, 2, 0x0F, 1000, 2000);     // extended
  PutSlot(b, 1000, 0, 0x07, 10, 50);      // logical 5 at 1010
  PutSlot(b, 1000, 1, 0x05, 100, 500);    // next EBR at 1100
  PutSlot(b, 1100, 0, 0x0B, 10, 60);      // logical 6 at 1110
  PutSlot(b, 1100, 1, 0x05, 0x0, 500);    // link 0: end of chain
  PartitionTable t = TableOf(b);
  EXPECT_EQ(t.kind, TableKind::kMbr);
  ExpectPartitions(t, {{1, 64, 100}, {5, 1010, 50}, {6, 1110, 60}});

  PutSlot(b, 1100, 1, 0x05, 100, 500);    // links back to itself
  t = TableOf(b);
  ExpectPartitions(t, {{1, 64, 100}, {5, 1010, 50}, {6, 1110, 60}});

  b[446] = 0x33;  // a status byte other than 00/80: not a partition table
  EXPECT_EQ(TableOf(b).kind, TableKind::kNone);
}

TEST(PartitionTableCrafted, VolumeWithoutTableIsNone) {
  DiskHandle disk;
  ASSERT_TRUE(OpenByPath(test::FixtureImage("disk-mbr"), disk));
  // The FAT16 volume alone: its sector 0 is a boot sector, not a table.
  DiskHandle volume = HandleForDevice(
      std::make_shared<WindowDevice>(disk.device, 2048 * 512, 65536 * 512, "fat16"), "fat16");
  EXPECT_EQ(ReadPartitionTable(volume, JudgeSector).kind, TableKind::kNone);
  EXPECT_EQ(TableOf(std::vector<std::uint8_t>(8192)).kind, TableKind::kNone);
}

}  // namespace
}  // namespace ambrel
