// Large zero-filled blocks (the pool's node arrays, the sorted run and path
// tables of a whole volume) that are filled right after they are made. They
// are placed on 2 MiB boundaries and backed by huge pages where the system
// gives them on request (transparent huge pages in "madvise" mode): filling
// a block then takes one page fault per 2 MiB instead of one per 4 KiB,
// which on a listing of 100,000 files was a quarter of its time. Any thread.
#pragma once

#include <cstddef>

namespace ambrel {

// Blocks from this size on are placed and advised; smaller ones are plain
// heap blocks.
inline constexpr std::size_t kLargeBlockBytes = std::size_t{1} << 20;

// `bytes` zero bytes (null when there is no room, or for 0 bytes), freed
// only by FreeLargeBlock with the same size (never std::free or realloc).
void* AllocLargeBlock(std::size_t bytes);
void FreeLargeBlock(void* block, std::size_t bytes);

}  // namespace ambrel
