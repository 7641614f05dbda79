#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "device/disk_handle.h"
#include "device/faulty_device.h"
#include "device/memory_device.h"
#include "device/read_ahead.h"

namespace ambrel {
namespace {

// Every sector's bytes name it: its LBA in each 8-byte word.
std::shared_ptr<FaultyDevice> NumberedDevice(std::uint64_t sectors) {
  std::vector<std::uint8_t> bytes(sectors * kSectorSize);
  for (std::uint64_t lba = 0; lba < sectors; ++lba)
    for (std::size_t at = 0; at < kSectorSize; at += 8) std::memcpy(&bytes[lba * kSectorSize + at], &lba, 8);
  return std::make_shared<FaultyDevice>(std::make_shared<MemoryDevice>(std::move(bytes)));
}

std::uint64_t SectorLba(const std::uint8_t* sector) {
  std::uint64_t lba = 0;
  std::memcpy(&lba, sector + 96, 8);
  return lba;
}

// The ranges come back in the order given, each with its own bytes, even
// though the next one is being read meanwhile; unreadable sectors come back
// as zero and are named by their offset in their own range, and the read
// statistics bound by the caller count the reader's reads.
TEST(SectorReadAhead, RangesInOrderWithTheirOwnBadSectorsAndCountedReads) {
  auto device = NumberedDevice(4096);
  device->FailSectors(1000, 3);  // inside the fourth range
  device->FailSectors(3000, 1);  // the first sector of the last range
  const DiskHandle handle = HandleForDevice(device, "numbered");
  std::vector<SectorReadAhead::Range> ranges;
  for (std::uint64_t lba : {0ull, 2048ull, 512ull, 900ull, 1ull, 3000ull}) ranges.push_back({lba, 200});
  ReadStatistics stats;
  stats.mode = 2;
  ReadCountBinding counting(&stats);
  SectorReadAhead reads(handle, ranges);
  for (const auto& range : ranges) {
    SectorReadAhead::Filled filled;
    ASSERT_TRUE(reads.Next(filled));
    ASSERT_EQ(filled.bytes.size(), 200u * kSectorSize);
    std::vector<std::uint32_t> expectBad;
    for (std::uint32_t i = 0; i < 200; ++i) {
      const std::uint64_t lba = range.lba + i;
      const bool bad = (lba >= 1000 && lba < 1003) || lba == 3000;
      if (bad) expectBad.push_back(i);
      EXPECT_EQ(SectorLba(filled.bytes.data() + std::size_t{i} * kSectorSize), bad ? 0 : lba) << lba;
    }
    EXPECT_EQ(*filled.bad, expectBad) << range.lba;
  }
  SectorReadAhead::Filled none;
  EXPECT_FALSE(reads.Next(none));
  EXPECT_GE(stats.reads.load(), 6u);
  EXPECT_GE(stats.failed.load(), 2u);
}

// A walk that stops early (the user's stop) leaves the reader waiting on a
// slot; ending the walk must end the reader, and a single range is read on
// the caller's thread.
TEST(SectorReadAhead, AWalkStoppedEarlyEndsTheReaderAndOneRangeIsReadInPlace) {
  auto device = NumberedDevice(64 * 1024);
  const DiskHandle handle = HandleForDevice(device, "numbered");
  std::vector<SectorReadAhead::Range> ranges;
  for (std::uint64_t lba = 0; lba < 64 * 1024; lba += 2048) ranges.push_back({lba, 2048});
  {
    SectorReadAhead reads(handle, ranges);
    SectorReadAhead::Filled filled;
    ASSERT_TRUE(reads.Next(filled));
    EXPECT_EQ(SectorLba(filled.bytes.data() + 5 * kSectorSize), 5u);
  }
  // At most the two slots were filled: nothing was read past them.
  EXPECT_LE(device->ReadCount(), 3u);
  const std::uint64_t before = device->ReadCount();
  SectorReadAhead single(handle, {{7, 1}});
  EXPECT_EQ(device->ReadCount(), before);
  SectorReadAhead::Filled filled;
  ASSERT_TRUE(single.Next(filled));
  EXPECT_EQ(SectorLba(filled.bytes.data()), 7u);
  EXPECT_EQ(device->ReadCount(), before + 1);
}

}  // namespace
}  // namespace ambrel
