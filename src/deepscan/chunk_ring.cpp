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

bool ChunkRing::Put(const std::uint8_t* slot) {
  std::lock_guard<std::mutex> guard(lock_);
  if (count_ == kRingSlots) return false;
  if (count_ != 0) write_ = (write_ + 1) & (kRingSlots - 1);
  std::memcpy(block_.data() + std::size_t{write_} * kRingSlotBytes, slot, kRingSlotBytes);
  ++count_;
  return true;
}

bool ChunkRing::Take(std::uint8_t* out, std::size_t outBytes) {
  std::lock_guard<std::mutex> guard(lock_);
  if (count_ == 0) return false;
  std::memcpy(out, block_.data() + std::size_t{read_} * kRingSlotBytes,
              std::min(outBytes, kRingSlotBytes));
  if (count_ != 1) read_ = (read_ + 1) & (kRingSlots - 1);
  --count_;
  return true;
}

std::uint32_t ChunkRing::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return count_;
}

void ChunkRing::Reset() {
  std::lock_guard<std::mutex> guard(lock_);
  read_ = write_ = count_ = 0;
}

}  // namespace ambrel
