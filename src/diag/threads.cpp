#include "diag/threads.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "common/text.h"
#include "diag/log.h"
#include "platform/process.h"

namespace ambrel {
namespace {

std::atomic<std::int32_t> g_threadCount{0};

}  // namespace

void ThreadBegin(std::string_view name) {
  const std::int32_t count = g_threadCount.fetch_add(1, std::memory_order_acq_rel) + 1;
  TraceLine(Format("%s     Thread %d begin! Thread num=%d  ", std::string(name).c_str(),
                   static_cast<int>(CurrentThreadId()), count));
}

void ThreadEnd(std::string_view name) {
  const std::int32_t count = g_threadCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  TraceLine(Format("%s     Thread %d end! Thread num=%d  ", std::string(name).c_str(),
                   static_cast<int>(CurrentThreadId()), count));
}

std::int32_t ThreadCount() { return g_threadCount.load(std::memory_order_acquire); }

bool WaitForWorkers(std::uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (ThreadCount() > 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace ambrel
