// Cost of the framed pool against plain malloc/free, as a ratio measured
// in the same run: blocks of 64 bytes to 64 KiB allocated, touched, freed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "diag/pool.h"

namespace {

constexpr int kRounds = 200000;
constexpr int kLive = 64;

template <typename Alloc, typename Free>
double Run(Alloc alloc, Free release) {
  std::vector<void*> live(kLive, nullptr);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) {
    void*& slot = live[static_cast<std::size_t>(i % kLive)];
    release(slot);
    const std::size_t n = 64u << (i % 11);
    slot = alloc(n);
    static_cast<char*>(slot)[0] = 1;
  }
  for (void* p : live) release(p);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const double plain = Run([](std::size_t n) { return std::calloc(1, n); }, [](void* p) { std::free(p); });
  const double pool = Run([](std::size_t n) { return ambrel::PoolAlloc(n, 1); },
                          [](void* p) { ambrel::PoolFree(p); });
  std::printf("calloc/free: %.3f s, PoolAlloc/PoolFree: %.3f s, ratio %.2f (%d rounds)\n", plain,
              pool, pool / plain, kRounds);
  return 0;
}
