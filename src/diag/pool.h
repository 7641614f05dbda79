// The framed allocator of large buffers and node blocks. Each block carries
// a header (magic "CK", call-site tag, size) and a guard byte after the data.
#pragma once

#include <cstdint>

namespace ambrel {

// n zeroed bytes; ends the process when memory runs out. Requests of 0 bytes
// or above kPoolMaxRequest are refused (null) instead: sizes that reach the
// pool from disk are validated by the caller, and a bad one must reject the
// structure, not end the program.
inline constexpr std::uint64_t kPoolMaxRequest = 0xFFFFFFF0ull;
void* PoolAlloc(std::uint64_t n, std::uint16_t tag);
bool PoolFree(void* p);
std::uint64_t PoolBlockSize(const void* p);   // 0 for a bad block
void* PoolCopy(std::uint64_t n, std::uint16_t tag, void* dest, const void* src);
void* PoolCopyAt(std::uint16_t tag, std::uint64_t n, void* dest, std::uint64_t offset,
                 const void* src);
void PoolReport(std::uint32_t code, int type);
std::uint64_t PoolTotal();

// Delayed release of blocks another thread may still be reading.
void DeferFree(void* block);
void FlushDeferred();

}  // namespace ambrel
