#include "deepscan/chunk_ring.h"

#include <algorithm>
#include <cstring>

namespace ambrel {

void StoreSlotLba(std::uint8_t* slot, std::uint64_t lba) {
  const std::uint32_t low = static_cast<std::uint32_t>(lba), high = static_cast<std::uint32_t>(lba >> 32);
  std::memcpy(slot + kRingSlotLbaOffset, &low, 4);
  std::memcpy(slot + kRingSlotLbaOffset + 4, &high, 4);
}

std::uint64_t SlotLba(const std::uint8_t* slot) {
  std::uint32_t low = 0, high = 0;
  std::memcpy(&low, slot + kRingSlotLbaOffset, 4);
  std::memcpy(&high, slot + kRingSlotLbaOffset + 4, 4);
  return (std::uint64_t(high) << 32) | low;
}

ChunkRing::ChunkRing() : block_(kRingSlots * kRingSlotBytes) {}

std::uint8_t* ChunkRing::AcquireWrite() {
  std::lock_guard<std::mutex> guard(lock_);
  if (used_ == kRingSlots) return nullptr;
  return SlotAt((first_ + used_) & (kRingSlots - 1));
}

void ChunkRing::CommitWrite() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (used_ < kRingSlots) ++used_;
  }
  changed_.notify_all();
}

const std::uint8_t* ChunkRing::AcquireRead() {
  std::lock_guard<std::mutex> guard(lock_);
  if (reading_ || used_ == 0) return nullptr;
  reading_ = true;
  return SlotAt(first_);
}

void ChunkRing::ReleaseRead() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!reading_) return;
    reading_ = false;
    first_ = (first_ + 1) & (kRingSlots - 1);
    --used_;
  }
  changed_.notify_all();
}

void ChunkRing::WaitReadable(std::uint32_t ms) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return used_ > (reading_ ? 1u : 0u); });
}

void ChunkRing::WaitWritable(std::uint32_t ms) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return used_ < kRingSlots; });
}

void ChunkRing::WakeAll() { changed_.notify_all(); }

bool ChunkRing::Put(const std::uint8_t* slot) {
  std::uint8_t* target = AcquireWrite();
  if (!target) return false;
  std::memcpy(target, slot, kRingSlotBytes);
  CommitWrite();
  return true;
}

bool ChunkRing::Take(std::uint8_t* out, std::size_t outBytes) {
  const std::uint8_t* source = AcquireRead();
  if (!source) return false;
  std::memcpy(out, source, std::min(outBytes, kRingSlotBytes));
  ReleaseRead();
  return true;
}

std::uint32_t ChunkRing::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return used_ - (reading_ ? 1 : 0);
}

void ChunkRing::Reset() {
  std::lock_guard<std::mutex> guard(lock_);
  first_ = used_ = 0;
  reading_ = false;
}

}  // namespace ambrel
