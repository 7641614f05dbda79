// Process and system facts: thread ids, memory status, OS version.
// Every function may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace ambrel {

std::uint32_t CurrentThreadId();
std::uint32_t CurrentProcessId();

struct MemoryStatus {
  std::uint64_t totalBytes = 0;
  std::uint64_t availableBytes = 0;
};
// Physical memory, total and available; false when it cannot be read.
bool ReadMemoryStatus(MemoryStatus& out);

struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};
// The kernel release as major.minor ("6.1.0-18-amd64" gives 6, 1).
OsVersion ReadOsVersion();
// 64 for a 64-bit process, else 32.
std::uint32_t ProcessBits();

// Ends the process at once with `code` (no clean-up of other threads).
[[noreturn]] void EndProcess(int code);

void SleepMs(std::uint32_t ms);

// Keeps blocks of up to 32 MiB in the heap, and up to 64 MiB of freed heap
// before it is given back to the system: a preview's buffers (a file's bytes,
// a picture's pixels, tens of megabytes each) are then reused from one
// preview to the next instead of being mapped anew each time, which faults
// in every page again and costs more than reading the file. Process-wide;
// any thread, best called once at the start of the previews.
void KeepLargeBlocksInHeap();

}  // namespace ambrel
