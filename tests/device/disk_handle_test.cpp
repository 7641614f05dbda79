// The sector reader's edges: clipping at the last LBA, the 256 MiB cap, the
// unknown partition size, retries and short reads, the read statistics.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "device/disk_handle.h"
#include "device/faulty_device.h"
#include "device/memory_device.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

// 64 sectors; every byte of sector n is (n + 1) & 0xFF.
std::vector<std::uint8_t> NumberedSectors(std::uint64_t sectors) {
  std::vector<std::uint8_t> bytes(sectors * 512);
  for (std::uint64_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i / 512 + 1);
  return bytes;
}

struct FaultyDisk {
  std::shared_ptr<FaultyDevice> faulty;
  DiskHandle handle;
};

FaultyDisk MakeFaultyDisk(std::uint64_t sectors = 64) {
  auto memory = std::make_shared<MemoryDevice>(NumberedSectors(sectors), "mem");
  auto faulty = std::make_shared<FaultyDevice>(memory);
  return {faulty, HandleForDevice(faulty, "test disk")};
}

bool AllBytes(const std::vector<std::uint8_t>& v, std::size_t from, std::size_t to, std::uint8_t b) {
  for (std::size_t i = from; i < to; ++i)
    if (v[i] != b) return false;
  return true;
}

TEST(ReadSectorsEdges, ClipsAtLastLba) {
  FaultyDisk d = MakeFaultyDisk();
  ASSERT_EQ(d.handle.lastLba, 63u);
  std::vector<std::uint8_t> buf(4 * 512, 0xCC);

  // Starting at the last LBA: exactly one sector arrives, the rest is zero.
  EXPECT_TRUE(ReadSectors(d.handle, 63, 4, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 64));
  EXPECT_TRUE(AllBytes(buf, 512, buf.size(), 0));

  // One past it: fails, zeros everywhere, device untouched.
  std::fill(buf.begin(), buf.end(), 0xCC);
  std::uint64_t readsBefore = d.faulty->ReadCount();
  EXPECT_FALSE(ReadSectors(d.handle, 64, 4, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, buf.size(), 0));
  EXPECT_EQ(d.faulty->ReadCount(), readsBefore);

  // Straddling the end: shortened, succeeds, the tail stays zero.
  std::fill(buf.begin(), buf.end(), 0xCC);
  EXPECT_TRUE(ReadSectors(d.handle, 62, 4, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 63));
  EXPECT_TRUE(AllBytes(buf, 512, 1024, 64));
  EXPECT_TRUE(AllBytes(buf, 1024, buf.size(), 0));
}

TEST(ReadSectorsEdges, OversizedRequestFailsWithoutTouchingDeviceOrBuffer) {
  FaultyDisk d = MakeFaultyDisk();
  std::vector<std::uint8_t> small(512, 0xCC);
  // 0x80001 sectors is one sector over 256 MiB: the buffer is far smaller,
  // so not even the zero-fill may run.
  EXPECT_FALSE(ReadSectors(d.handle, 0, 0x80001, small.data()));
  EXPECT_TRUE(AllBytes(small, 0, small.size(), 0xCC));
  // Counts whose byte size wraps 32 bits are refused the same way.
  EXPECT_FALSE(ReadSectors(d.handle, 0, 0x800000, small.data()));
  EXPECT_FALSE(ReadSectors(d.handle, 0, 0xFFFFFFFFu, small.data()));
  EXPECT_EQ(d.faulty->ReadCount(), 0u);
  std::vector<std::uint8_t> big(std::size_t{0x80000} * 512);
  EXPECT_TRUE(ReadSectors(d.handle, 0, 0x80000, big.data()));  // the cap itself is allowed
  EXPECT_TRUE(AllBytes(big, 0, 512, 1));
}

TEST(ReadSectorsEdges, RetriesOnceOnReopenedDevice) {
  FaultyDisk d = MakeFaultyDisk();
  std::vector<std::uint8_t> buf(512);
  d.faulty->FailNextReads(1);
  EXPECT_TRUE(ReadSectors(d.handle, 5, 1, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 6));
  EXPECT_EQ(d.faulty->ReopenCount(), 1u);
  EXPECT_EQ(d.faulty->ReadCount(), 2u);

  // Two failures in a row: exactly one retry, then failure with zeros.
  d.faulty->FailNextReads(2);
  std::fill(buf.begin(), buf.end(), 0xCC);
  EXPECT_FALSE(ReadSectors(d.handle, 5, 1, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 0));
  EXPECT_EQ(d.faulty->ReopenCount(), 2u);
  EXPECT_EQ(d.faulty->ReadCount(), 4u);

  // A bad sector that a reopen heals (a transient error) reads on retry;
  // one that stays bad fails the read, and a failed reopen fails it too.
  std::vector<std::uint8_t> two(1024);
  d.faulty->FailSectors(10, 1);
  d.faulty->SetReopenHeals(true);
  EXPECT_TRUE(ReadSectors(d.handle, 9, 2, two.data()));
  EXPECT_TRUE(AllBytes(two, 512, 1024, 11));
  d.faulty->SetReopenHeals(false);
  d.faulty->FailSectors(10, 1);
  EXPECT_FALSE(ReadSectors(d.handle, 9, 2, two.data()));
  EXPECT_TRUE(AllBytes(two, 0, 1024, 0));
  d.faulty->SetReopenFails(true);
  d.faulty->FailNextReads(1);
  EXPECT_FALSE(ReadSectors(d.handle, 0, 1, two.data()));
}

TEST(ReadSectorsEdges, TornTransfersLeaveZerosNotGarbage) {
  FaultyDisk d = MakeFaultyDisk();
  d.faulty->SetScribble(true);
  std::vector<std::uint8_t> buf(4 * 512, 0xCC);
  d.faulty->FailSectors(3, 1);
  EXPECT_FALSE(ReadSectors(d.handle, 2, 4, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, buf.size(), 0));
  d.faulty->ShortReadAt(40);
  EXPECT_FALSE(ReadSectors(d.handle, 38, 4, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 39));
  EXPECT_TRUE(AllBytes(buf, 512, 1024, 40));
  EXPECT_TRUE(AllBytes(buf, 1024, buf.size(), 0));
}

TEST(ReadSectorsEdges, ShortReadKeepsArrivedBytesAndFails) {
  FaultyDisk d = MakeFaultyDisk();
  std::vector<std::uint8_t> buf(8 * 512, 0xCC);
  d.faulty->ShortReadAt(13);
  EXPECT_FALSE(ReadSectors(d.handle, 10, 8, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 11));
  EXPECT_TRUE(AllBytes(buf, 1024, 1536, 13));
  EXPECT_TRUE(AllBytes(buf, 1536, buf.size(), 0));
  EXPECT_EQ(d.faulty->ReopenCount(), 0u);  // a short read is not retried

  // A later short read never shows bytes of an earlier, longer read.
  std::vector<std::uint8_t> full(8 * 512);
  ASSERT_TRUE(ReadSectors(d.handle, 20, 8, full.data()));
  d.faulty->SetReadLimit(700);
  std::fill(buf.begin(), buf.end(), 0xCC);
  EXPECT_FALSE(ReadSectors(d.handle, 30, 8, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 31));
  EXPECT_TRUE(AllBytes(buf, 512, 700, 32));
  EXPECT_TRUE(AllBytes(buf, 700, buf.size(), 0));
}

TEST(ReadSectorsEdges, StatisticsModes) {
  FaultyDisk d = MakeFaultyDisk(0x4000 + 8);
  std::vector<std::uint8_t> chunk(std::size_t{0x4000} * 512);
  ReadStatistics stats;
  ReadCountBinding counted(&stats);
  auto reset = [&](int mode) {
    stats.mode = mode;
    stats.reads = 0;
    stats.failed = 0;
  };

  reset(0);
  ReadSectors(d.handle, 0, 0x4000, chunk.data());
  ReadSectors(d.handle, 0, 1, chunk.data());
  EXPECT_EQ(stats.reads.load(), 0u);

  reset(1);  // only whole 8 MiB chunks count, tested after clipping
  EXPECT_TRUE(ReadSectors(d.handle, 0, 0x4000, chunk.data()));
  EXPECT_TRUE(ReadSectors(d.handle, 0, 16, chunk.data()));
  EXPECT_TRUE(ReadSectors(d.handle, 100, 0x4000, chunk.data()));  // clipped: not counted
  d.faulty->FailSectors(7, 1);
  EXPECT_FALSE(ReadSectors(d.handle, 0, 0x4000, chunk.data()));
  EXPECT_EQ(stats.reads.load(), 2u);
  EXPECT_EQ(stats.failed.load(), 1u);

  reset(2);  // every read
  EXPECT_TRUE(ReadSectors(d.handle, 0, 1, chunk.data()));
  EXPECT_FALSE(ReadSectors(d.handle, 7, 1, chunk.data()));
  EXPECT_TRUE(ReadSectors(d.handle, 100, 0x4000, chunk.data()));
  EXPECT_EQ(stats.reads.load(), 3u);
  EXPECT_EQ(stats.failed.load(), 1u);
  reset(0);
}

// An image of 1,048,576 bytes on disk.
std::string WriteImage(const std::string& dir, const std::string& name, std::size_t bytes) {
  std::string path = dir + "/" + name;
  std::ofstream out(path, std::ios::binary);
  std::vector<std::uint8_t> data = NumberedSectors((bytes + 511) / 512);
  data.resize(bytes);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(bytes));
  return path;
}

TEST(OpenByPathFile, MegabyteImageHasLastLba2047) {
  std::string dir = test::TempDir("open-by-path");
  std::string path = WriteImage(dir, "one-mib.img", 1048576);
  DiskHandle h;
  ASSERT_TRUE(OpenByPath(path, h));
  EXPECT_EQ(h.sizeBytes, 1048576u);
  EXPECT_EQ(h.lastLba, 2047u);
  EXPECT_EQ(h.name, path);
  EXPECT_EQ(h.reopenPath, path);
  EXPECT_EQ(QueryDeviceSize(h), 1048576u);
  std::uint64_t sectors = 0;
  EXPECT_TRUE(QuerySectorCount(path, sectors));
  EXPECT_EQ(sectors, 2048u);
  std::vector<std::uint8_t> buf(1024);
  EXPECT_TRUE(ReadSectors(h, 2047, 2, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 2048 & 0xFF));
  EXPECT_TRUE(AllBytes(buf, 512, 1024, 0));
  std::string model;
  EXPECT_FALSE(QueryDeviceModel(h, model));  // an image file has no model
  EXPECT_FALSE(IsUsbDevice(h));
}

TEST(OpenByPathFile, RefusesWhatIsNotAReadableImage) {
  std::string dir = test::TempDir("open-refuse");
  DiskHandle h;
  std::string why;
  EXPECT_FALSE(OpenByPath(dir + "/missing.img", h, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(OpenByPath(dir, h, &why));  // a directory
  EXPECT_EQ(why, "is a directory");
  EXPECT_FALSE(OpenByPath(WriteImage(dir, "empty.img", 0), h));
  EXPECT_FALSE(OpenByPath(WriteImage(dir, "tiny.img", 511), h));
  EXPECT_FALSE(h.IsOpen());
  std::uint64_t sectors = 7;
  EXPECT_FALSE(QuerySectorCount(dir + "/empty.img", sectors));
  EXPECT_EQ(sectors, 0u);
  // Odd sizes: the partial last sector is not addressable.
  ASSERT_TRUE(OpenByPath(WriteImage(dir, "odd.img", 1000), h));
  EXPECT_EQ(h.lastLba, 0u);
}

TEST(OpenByPathFile, RetryKeepsCopiesOfTheHandleValid) {
  std::string dir = test::TempDir("reopen");
  std::string path = WriteImage(dir, "img", 64 * 512);
  DiskHandle owner;
  ASSERT_TRUE(OpenByPath(path, owner));
  DiskHandle copy = owner;
  ASSERT_TRUE(copy.device->Reopen());  // what a retry does
  std::vector<std::uint8_t> buf(512);
  EXPECT_TRUE(ReadSectors(owner, 3, 1, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 4));
  copy.Close();
  EXPECT_TRUE(ReadSectors(owner, 4, 1, buf.data()));
  EXPECT_TRUE(AllBytes(buf, 0, 512, 5));
}

TEST(ReadSectorsEdges, ParallelReadersGetTheirOwnData) {
  FaultyDisk d = MakeFaultyDisk(256);
  auto worker = [&](std::uint64_t first, bool* ok) {
    std::vector<std::uint8_t> buf(4 * 512);
    *ok = true;
    for (int round = 0; round < 300; ++round) {
      std::uint64_t lba = first + round % 60;
      if (!ReadSectors(d.handle, lba, 4, buf.data()) || !AllBytes(buf, 0, 512, std::uint8_t(lba + 1)) ||
          !AllBytes(buf, 1536, 2048, std::uint8_t(lba + 4)))
        *ok = false;
    }
  };
  bool ok1 = false, ok2 = false;
  std::thread t1(worker, 0, &ok1), t2(worker, 128, &ok2);
  t1.join();
  t2.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
}

}  // namespace
}  // namespace ambrel
