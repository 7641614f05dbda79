// Storage of node arrays (FoundFileNode and ClassNode tables).
//
// Arrays of up to 0x7FFFF records come from the memory pool, larger ones
// from the general heap. A replaced pool array is not freed at once: a
// reader may still hold a pointer it loaded before the worker published the
// new array, so the old block goes to the pool's deferred release.
// A heap array grows and shrinks in place (realloc moves its pages without
// copying them; copying made a 2,000,000-node fill eight times slower).
// That is safe because every thread other than a table's owner reads it
// under the table's guard, which the resize holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ambrel {

inline constexpr std::uint64_t kPoolArrayRecords = 0x7FFFF;
inline constexpr std::uint16_t kNodeArrayTag = 0x4E41;  // "NA"

// Zeroed room for `records` records of `recordSize` bytes; null on failure.
void* AllocNodeArray(std::uint64_t records, std::size_t recordSize);
// Resizes an array from `oldRecords` to `newRecords` records keeping the
// first `used` ones; new records are zeroed. Returns the new array and sets
// `oldReleased` when the old block was released (or moved) here; on failure
// returns null and the old array is unchanged.
void* ResizeNodeBlock(void* block, std::uint64_t oldRecords, std::uint64_t newRecords,
                      std::uint64_t used, std::size_t recordSize);
// Releases an array (of `records` records, as allocated) that no other
// thread can reach any more.
void FreeNodeArray(void* block, std::uint64_t records);
// Releases an array that a reader on another thread may still be using.
void DeferNodeArray(void* block, std::uint64_t records);
// Frees every deferred array now (end of a session, tests, benchmarks).
void FlushNodeArrays();

}  // namespace ambrel
