// Storage of node arrays (FoundFileNode and ClassNode tables).
//
// Arrays of up to 0x7FFFF records come from the memory pool, larger ones
// from the general heap. A replaced array is not freed at once: the
// interface thread may still hold a pointer it loaded before the worker
// published the new array, so the old block is released late (the pool's
// deferred release; a short queue of its own for heap arrays).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ambrel {

inline constexpr std::uint64_t kPoolArrayRecords = 0x7FFFF;
inline constexpr std::uint16_t kNodeArrayTag = 0x4E41;  // "NA"

// Zeroed room for `records` records of `recordSize` bytes; null on failure.
void* AllocNodeArray(std::uint64_t records, std::size_t recordSize);
// Releases an array (of `records` records, as allocated) that no other
// thread can reach any more.
void FreeNodeArray(void* block, std::uint64_t records);
// Releases an array that a reader on another thread may still be using.
void DeferNodeArray(void* block, std::uint64_t records);
// Frees every deferred array now (end of a session, tests, benchmarks).
void FlushNodeArrays();

}  // namespace ambrel
