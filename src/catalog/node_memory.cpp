#include "catalog/node_memory.h"

#include <cstdlib>
#include <deque>
#include <mutex>

namespace ambrel {
namespace {

// Old arrays kept alive before the oldest is freed. Large tables grow in
// steps of 51200 records, so a handful already covers well over the time a
// reader holds a pointer without the table's guard.
constexpr std::size_t kDeferredArrays = 4;

std::mutex g_deferredLock;
std::deque<void*>& Deferred() {
  static std::deque<void*> queue;
  return queue;
}

}  // namespace

void* AllocNodeArray(std::uint64_t records, std::size_t recordSize) {
  if (records == 0 || records > (std::uint64_t(1) << 32) / recordSize * 64) return nullptr;
  return std::calloc(records, recordSize);
}

void FreeNodeArray(void* block) { std::free(block); }

void DeferNodeArray(void* block) {
  if (!block) return;
  void* victim = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_deferredLock);
    Deferred().push_back(block);
    if (Deferred().size() > kDeferredArrays) {
      victim = Deferred().front();
      Deferred().pop_front();
    }
  }
  std::free(victim);
}

void FlushNodeArrays() {
  std::deque<void*> all;
  {
    std::lock_guard<std::mutex> hold(g_deferredLock);
    all.swap(Deferred());
  }
  for (void* p : all) std::free(p);
}

}  // namespace ambrel
