// The hand-off of read chunks from the reading thread to the analysing
// thread: eight slots of one chunk each (8 MiB of sectors, then the chunk's
// first LBA at 0x800000 as two u32 halves).
//
// Threads: the reading thread puts, the analysing thread takes; one lock
// guards the indices and each copy in or out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace ambrel {

inline constexpr std::size_t kRingSlotBytes = 0x800200;
inline constexpr std::size_t kRingSlotLbaOffset = 0x800000;
inline constexpr std::uint32_t kRingSlots = 8;

void StoreSlotLba(std::uint8_t* slot, std::uint64_t lba);
std::uint64_t SlotLba(const std::uint8_t* slot);

class ChunkRing {
 public:
  ChunkRing();
  // Copies a filled slot in; false when all eight are queued.
  bool Put(const std::uint8_t* slot);
  // Copies the oldest slot out (at most `outBytes` bytes); false when empty.
  bool Take(std::uint8_t* out, std::size_t outBytes);
  std::uint32_t Count() const;
  void Reset();

 private:
  mutable std::mutex lock_;
  std::vector<std::uint8_t> block_;
  // When empty both indices rest on the slot used last.
  std::uint32_t read_ = 0;
  std::uint32_t write_ = 0;
  std::uint32_t count_ = 0;
};

}  // namespace ambrel
