#include "device/faulty_device.h"

#include <cstring>

namespace ambrel {

FaultyDevice::FaultyDevice(std::shared_ptr<BlockDevice> inner) : inner_(std::move(inner)) {}

void FaultyDevice::FailSectors(std::uint64_t firstLba, std::uint64_t count) {
  std::lock_guard<std::mutex> guard(lock_);
  if (count != 0) failing_.insert({firstLba, firstLba + count});
}

void FaultyDevice::SetReopenHeals(bool heals) {
  std::lock_guard<std::mutex> guard(lock_);
  reopenHeals_ = heals;
}

void FaultyDevice::FailNextReads(int reads) {
  std::lock_guard<std::mutex> guard(lock_);
  failNext_ = reads;
}

void FaultyDevice::ShortReadAt(std::uint64_t lba) {
  std::lock_guard<std::mutex> guard(lock_);
  shortAtByte_ = lba * 512;
}

void FaultyDevice::SetReadLimit(std::uint64_t bytes) {
  std::lock_guard<std::mutex> guard(lock_);
  readLimit_ = bytes;
}

void FaultyDevice::SetScribble(bool scribble) {
  std::lock_guard<std::mutex> guard(lock_);
  scribble_ = scribble;
}

void FaultyDevice::SetReopenFails(bool fails) {
  std::lock_guard<std::mutex> guard(lock_);
  reopenFails_ = fails;
}

std::uint64_t FaultyDevice::ReadCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return reads_;
}

std::uint64_t FaultyDevice::FailedReadCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return failedReads_;
}

std::uint64_t FaultyDevice::ReopenCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return reopens_;
}

std::uint64_t FaultyDevice::BytesDelivered() const {
  std::lock_guard<std::mutex> guard(lock_);
  return delivered_;
}

bool FaultyDevice::CoversFailingSector(std::uint64_t offset, std::size_t length) const {
  if (length == 0) return false;
  std::uint64_t first = offset / 512;
  std::uint64_t end = (offset + length + 511) / 512;
  for (const auto& [from, to] : failing_)
    if (from < end && first < to) return true;
  return false;
}

std::int64_t FaultyDevice::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  std::lock_guard<std::mutex> guard(lock_);
  ++reads_;
  if (failNext_ > 0 || CoversFailingSector(offset, length)) {
    if (failNext_ > 0) --failNext_;
    ++failedReads_;
    if (scribble_) std::memset(buffer, 0xEE, length);
    return -1;
  }
  std::size_t want = length;
  if (readLimit_ != 0 && want > readLimit_) want = static_cast<std::size_t>(readLimit_);
  if (offset < shortAtByte_ && shortAtByte_ - offset < want)
    want = static_cast<std::size_t>(shortAtByte_ - offset);
  else if (offset >= shortAtByte_ && offset < shortAtByte_ + 512)
    want = 0;
  std::int64_t got = inner_->ReadAt(offset, buffer, want);
  if (got > 0) delivered_ += static_cast<std::uint64_t>(got);
  if (scribble_ && got >= 0 && static_cast<std::size_t>(got) < length)
    std::memset(static_cast<std::uint8_t*>(buffer) + got, 0xEE, length - static_cast<std::size_t>(got));
  return got;
}

bool FaultyDevice::Reopen() {
  std::lock_guard<std::mutex> guard(lock_);
  ++reopens_;
  if (reopenFails_) return false;
  if (reopenHeals_) failing_.clear();
  return inner_->Reopen();
}

}  // namespace ambrel
