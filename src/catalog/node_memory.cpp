#include "catalog/node_memory.h"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "diag/pool.h"

namespace ambrel {
namespace {

// Heap arrays hold at least 0x80000 records (tens of MiB), so only the last
// two replaced ones are kept, and none longer than 200 ms.
constexpr std::size_t kDeferredHeapArrays = 2;
constexpr auto kDeferredAge = std::chrono::milliseconds(200);

struct HeapDeferred {
  void* block;
  std::chrono::steady_clock::time_point queued;
};

std::mutex g_heapLock;
std::deque<HeapDeferred>& HeapQueue() {
  static auto* queue = new std::deque<HeapDeferred>;  // used until exit
  return *queue;
}

bool FromPool(std::uint64_t records) { return records <= kPoolArrayRecords; }

}  // namespace

void* AllocNodeArray(std::uint64_t records, std::size_t recordSize) {
  if (records == 0 || recordSize == 0) return nullptr;
  const std::uint64_t bytes = records * recordSize;
  if (bytes / recordSize != records || bytes > kPoolMaxRequest) return nullptr;
  if (FromPool(records)) return PoolAlloc(bytes, kNodeArrayTag);
  return std::calloc(records, recordSize);
}

void FreeNodeArray(void* block, std::uint64_t records) {
  if (!block) return;
  if (FromPool(records)) PoolFree(block);
  else std::free(block);
}

void DeferNodeArray(void* block, std::uint64_t records) {
  if (!block) return;
  if (FromPool(records)) {
    DeferFree(block);
    return;
  }
  std::deque<void*> victims;
  {
    std::lock_guard<std::mutex> hold(g_heapLock);
    auto& queue = HeapQueue();
    const auto now = std::chrono::steady_clock::now();
    while (!queue.empty() &&
           (queue.size() >= kDeferredHeapArrays || now - queue.front().queued > kDeferredAge)) {
      victims.push_back(queue.front().block);
      queue.pop_front();
    }
    queue.push_back({block, now});
  }
  for (void* p : victims) std::free(p);
}

void FlushNodeArrays() {
  std::deque<HeapDeferred> all;
  {
    std::lock_guard<std::mutex> hold(g_heapLock);
    all.swap(HeapQueue());
  }
  for (const HeapDeferred& d : all) std::free(d.block);
  FlushDeferred();
}

}  // namespace ambrel
