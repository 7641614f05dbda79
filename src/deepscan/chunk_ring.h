// The hand-off of read chunks from the reading thread to the analysing
// thread: eight slots of one chunk each (8 MiB of sectors, then the chunk's
// first LBA at 0x800000 as two u32 halves).
//
// The reading thread fills a slot in place (AcquireWrite, CommitWrite) and
// the analysing thread works on the oldest in place (AcquireRead,
// ReleaseRead), so a chunk is never copied between them; Put and Take are
// the copying forms of the same hand-off.
//
// Threads: one reading thread writes, one analysing thread reads; one lock
// guards the indices (and the copies of Put and Take).
#pragma once

#include <cstddef>
#include <cstdint>
#include <condition_variable>
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
  // The next free slot to fill, or null when every slot is queued or in
  // use; it joins the queue at CommitWrite.
  std::uint8_t* AcquireWrite();
  void CommitWrite();
  // The oldest queued slot, or null when none is queued; it stays the
  // reader's (it cannot be refilled) until ReleaseRead.
  const std::uint8_t* AcquireRead();
  void ReleaseRead();
  // Wait up to `ms` milliseconds for a queued slot (a free slot), so that
  // neither thread sleeps a fixed interval while the other has moved on.
  void WaitReadable(std::uint32_t ms);
  void WaitWritable(std::uint32_t ms);
  // Ends every wait now (the scan stops or its reading ends).
  void WakeAll();
  // Slots queued (filled and not yet taken).
  std::uint32_t Count() const;
  void Reset();

 private:
  std::uint8_t* SlotAt(std::uint32_t index) { return block_.data() + std::size_t{index} * kRingSlotBytes; }

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::uint8_t> block_;
  // The slots in use run from `first_`: the one being read (when
  // `reading_`), then the queued ones. The slot after them is the next to
  // fill.
  std::uint32_t first_ = 0;
  std::uint32_t used_ = 0;
  bool reading_ = false;
};

}  // namespace ambrel
