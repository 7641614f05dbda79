#include "device/read_ahead.h"

#include <algorithm>

#include "platform/large_block.h"

namespace ambrel {

SectorReadAhead::SectorReadAhead(const DiskHandle& handle, std::vector<Range> ranges, Prepare prepare)
    : handle_(handle), ranges_(std::move(ranges)), prepare_(std::move(prepare)), counted_(BoundReadStatistics()) {
  std::uint32_t most = 0;
  for (Range& r : ranges_) {
    r.sectors = std::min(r.sectors, kMaxReadSectors);
    most = std::max(most, r.sectors);
  }
  const std::size_t bytes = std::size_t{most} * kSectorSize;
  const bool ahead = ranges_.size() > 1;
  blockBytes_ = ahead ? 2 * bytes : bytes;
  block_ = blockBytes_ > 0 ? AllocLargeBlock(blockBytes_) : nullptr;
  if (!block_ && blockBytes_ > 0) {
    blockBytes_ = 0;
    ranges_.clear();
    return;
  }
  slots_[0].bytes = static_cast<std::uint8_t*>(block_);
  if (ahead) slots_[1].bytes = slots_[0].bytes + bytes;
  if (!ahead) return;
  try {
    reader_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread to be had: each range is read when it is asked for.
  }
}

SectorReadAhead::~SectorReadAhead() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
  FreeLargeBlock(block_, blockBytes_);
}

void SectorReadAhead::ReadInto(Slot& slot, std::size_t range) {
  const Range& r = ranges_[range];
  slot.bad.clear();
  ReadSectorsSalvaging(handle_, r.lba, r.sectors, slot.bytes, &slot.bad);
  if (prepare_) prepare_(range, Filled{std::span<std::uint8_t>(slot.bytes, std::size_t{r.sectors} * kSectorSize),
                                       &slot.bad});
}

void SectorReadAhead::Run() {
  ReadCountBinding counting(counted_);
  for (std::size_t range = 0; range < ranges_.size(); ++range) {
    Slot& slot = slots_[range % 2];
    {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [&] { return stop_ || slot.range == SIZE_MAX; });
      if (stop_) return;
    }
    // The slot is free: the caller neither reads nor waits on its bytes
    // until its range is set below.
    ReadInto(slot, range);
    {
      std::lock_guard<std::mutex> hold(lock_);
      slot.range = range;
    }
    changed_.notify_all();
  }
}

bool SectorReadAhead::Next(Filled& out) {
  if (next_ >= ranges_.size()) return false;
  const std::size_t range = next_++;
  Slot& slot = slots_[range % 2];
  if (!reader_.joinable()) {
    ReadInto(slot, range);
  } else {
    std::unique_lock<std::mutex> hold(lock_);
    // The range given last is done with: its slot takes the one after next.
    if (range > 0) slots_[(range - 1) % 2].range = SIZE_MAX;
    changed_.notify_all();
    changed_.wait(hold, [&] { return slot.range == range; });
  }
  out.bytes = std::span<std::uint8_t>(slot.bytes, std::size_t{ranges_[range].sectors} * kSectorSize);
  out.bad = &slot.bad;
  return true;
}

}  // namespace ambrel
