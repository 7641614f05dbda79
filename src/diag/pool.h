// The framed allocator of large buffers and node blocks. Each block carries
// a header (magic "CK", call-site tag, size) and a guard byte after the data.
#pragma once

#include "diag/log.h"

#include <cstdint>
#include <string>

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
// Logs a misuse once per code: type 16 bad header, 17 guard byte changed,
// 18 copy past the block's end.
void PoolReport(std::uint32_t code, LogCode type);
// Bytes of live blocks including their 9 bytes of framing.
std::uint64_t PoolTotal();
// True once an allocation has failed.
bool PoolFailed();
// Optional text (the found partitions) appended to the "Mem big" lines.
void SetPoolSummarySource(std::string (*summary)());
// Who tells the user that an allocation failed before the process ends (the
// start-up sequence passes its message box); without one only the log says
// so.
void SetPoolFailureNotice(void (*notice)(std::uint64_t bytes));

// Delayed release of blocks another thread may still be reading: a queued
// block is freed once 200 ms old, when more than 64 are queued, or when the
// pool total passes 1 GiB. FlushDeferred waits 200 ms and frees them all.
// Any thread may call both.
void DeferFree(void* block);
void FlushDeferred();

}  // namespace ambrel
