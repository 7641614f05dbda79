#include "platform/process.h"

#include <malloc.h>

#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace ambrel {

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::gettid()); }
std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool ReadMemoryStatus(MemoryStatus& out) {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return false;
  const std::uint64_t unit = info.mem_unit ? info.mem_unit : 1;
  out.totalBytes = static_cast<std::uint64_t>(info.totalram) * unit;
  // Free plus buffers is what the system can hand out without swapping.
  out.availableBytes =
      (static_cast<std::uint64_t>(info.freeram) + static_cast<std::uint64_t>(info.bufferram)) * unit;
  return true;
}

OsVersion ReadOsVersion() {
  OsVersion v;
  struct utsname name {};
  if (::uname(&name) != 0) return v;
  unsigned major = 0, minor = 0;
  if (std::sscanf(name.release, "%u.%u", &major, &minor) >= 1) {
    v.major = major;
    v.minor = minor;
  }
  return v;
}

std::uint32_t ProcessBits() { return sizeof(void*) == 8 ? 64 : 32; }

void EndProcess(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

void SleepMs(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void KeepLargeBlocksInHeap() {
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

}  // namespace ambrel
