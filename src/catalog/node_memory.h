// Storage of node arrays (FoundFileNode and ClassNode tables).
//
// A replaced array is not freed at once: the interface thread may still hold
// a pointer it loaded before the worker published the new array, so the old
// block goes to a short queue of deferred releases.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ambrel {

// Zeroed room for `records` records of `recordSize` bytes; null on failure.
void* AllocNodeArray(std::uint64_t records, std::size_t recordSize);
// Releases an array that no other thread can reach any more.
void FreeNodeArray(void* block);
// Releases an array that a reader on another thread may still be using.
void DeferNodeArray(void* block);
// Frees every deferred array now (end of a session, tests, benchmarks).
void FlushNodeArrays();

}  // namespace ambrel
