// Reads a known sequence of sector ranges one range ahead of their use, on
// a thread of its own: a walk over a large table (the MFT) decodes one
// range while the next one is read, instead of waiting on each read.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "device/disk_handle.h"

namespace ambrel {

class SectorReadAhead {
 public:
  struct Range {
    std::uint64_t lba = 0;
    std::uint32_t sectors = 0;  // at most kMaxReadSectors
  };
  // One range as read: unreadable sectors read as zero, and `bad` holds
  // their offsets from the range's first sector in ascending order (as
  // ReadSectorsSalvaging gives them).
  struct Filled {
    std::span<std::uint8_t> bytes;
    const std::vector<std::uint32_t>* bad = nullptr;
  };

  // Work done on each range where it is read, before it is given out (the
  // decoding of what it holds): on the reader thread, so it must only touch
  // what belongs to that range. `range` is its place in the order given.
  using Prepare = std::function<void(std::size_t range, const Filled& filled)>;

  // A single range is read on the caller's thread, when it asks for it.
  SectorReadAhead(const DiskHandle& handle, std::vector<Range> ranges, Prepare prepare = {});
  ~SectorReadAhead();  // stops the reader and waits for it
  SectorReadAhead(const SectorReadAhead&) = delete;
  SectorReadAhead& operator=(const SectorReadAhead&) = delete;

  // The next range, in the order given; valid until the next call. A range
  // given as number i lies in the same one of two buffers as every range
  // i + 2k: a Prepare may keep what it makes of range i in its own slot
  // i % 2, which the caller reads until its next call. False
  // once every range was given (or none could be given: an allocation
  // failure leaves the rest unread rather than reported as read).
  bool Next(Filled& out);

 private:
  struct Slot {
    std::uint8_t* bytes = nullptr;  // in block_; every byte is read or zeroed before use
    std::vector<std::uint32_t> bad;
    std::size_t range = SIZE_MAX;  // which range it holds, SIZE_MAX when free
  };
  void ReadInto(Slot& slot, std::size_t range);
  void Run();

  DiskHandle handle_;
  std::vector<Range> ranges_;
  Prepare prepare_;
  ReadStatistics* counted_ = nullptr;  // the caller's read statistics
  // Both slots' buffers in one block: from 1 MiB on it is backed by a huge
  // page where the system gives one, so filling it costs one page fault
  // instead of one per 4 KiB.
  void* block_ = nullptr;
  std::size_t blockBytes_ = 0;
  Slot slots_[2];
  std::size_t next_ = 0;  // the range Next gives next
  std::mutex lock_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::thread reader_;
};

}  // namespace ambrel
