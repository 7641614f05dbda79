// A std::vector for the tables of a whole volume (a run per file, a path per
// entry) that are filled once and read: their buffers come from
// AllocLargeBlock, so that filling them costs few page faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "platform/large_block.h"

namespace ambrel {

template <class T>
struct LargeBlockAllocator {
  using value_type = T;
  LargeBlockAllocator() = default;
  template <class U>
  LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}  // NOLINT: rebinding is implicit
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* block = AllocLargeBlock(n * sizeof(T));
    if (!block) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t n) noexcept { FreeLargeBlock(block, n * sizeof(T)); }
  template <class U>
  bool operator==(const LargeBlockAllocator<U>&) const noexcept { return true; }
};

template <class T>
using LargeVector = std::vector<T, LargeBlockAllocator<T>>;

}  // namespace ambrel
