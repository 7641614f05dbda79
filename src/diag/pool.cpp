#include "diag/pool.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <unordered_set>

#include "common/text.h"
#include "diag/format_size.h"
#include "diag/log.h"
#include "platform/large_block.h"
#include "platform/process.h"

namespace ambrel {
namespace {

std::atomic<void (*)(std::uint64_t)> g_failureNotice{nullptr};

// Block layout: magic "CK" (u16), tag (u16), size (u32), data, guard "K".
constexpr std::uint16_t kMagic = 0x4B43;
constexpr std::uint8_t kGuard = 0x4B;
constexpr std::uint64_t kHeader = 8;
constexpr std::uint64_t kFrame = 9;
constexpr std::uint64_t kLevelStep = 0x6400000;  // 100 MiB
constexpr std::uint32_t kForeignCode = 999;

struct BlockHeader {
  std::uint16_t magic;
  std::uint16_t tag;
  std::uint32_t size;
};
static_assert(sizeof(BlockHeader) == kHeader);

struct PoolState {
  std::mutex totalLock;
  std::uint64_t total = 0;
  std::uint64_t level = 0;
  bool failed = false;
  // Live data pointers, so that a double or foreign free is recognised
  // without reading memory the pool does not own.
  std::unordered_set<const void*> live;
  std::string (*summary)() = nullptr;

  std::mutex reportLock;
  std::set<std::uint32_t> reported;

  std::mutex deferLock;
  struct Deferred {
    void* block;
    std::chrono::steady_clock::time_point queued;
  };
  std::deque<Deferred> deferred;
};

PoolState& State() {
  static PoolState* state = new PoolState;  // never destroyed: used until exit
  return *state;
}

BlockHeader ReadHeader(const void* p) {
  BlockHeader h;
  std::memcpy(&h, static_cast<const std::uint8_t*>(p) - kHeader, sizeof h);
  return h;
}

bool IsLive(const void* p) {
  PoolState& s = State();
  std::lock_guard<std::mutex> guard(s.totalLock);
  return s.live.count(p) != 0;
}

// The header of a live block, or false (foreign pointer, freed block).
bool LiveHeader(const void* p, BlockHeader& h) {
  if (!p || !IsLive(p)) return false;
  h = ReadHeader(p);
  return h.magic == kMagic;
}

[[noreturn]] void AllocationFailed(std::uint64_t n, std::uint16_t tag) {
  PoolState& s = State();
  std::uint64_t total;
  {
    std::lock_guard<std::mutex> guard(s.totalLock);
    s.failed = true;
    total = s.total;
  }
  MemoryStatus mem;
  ReadMemoryStatus(mem);
  LogLine(LogCode::kMemory, Format("Mem size: %llu    alloc size: %llu   line: %u  AllMem: %u   FreeMem: %u     ",
                     static_cast<unsigned long long>(total),
                     static_cast<unsigned long long>(n + kFrame), static_cast<unsigned>(tag),
                     static_cast<unsigned>(mem.totalBytes >> 20),
                     static_cast<unsigned>(mem.availableBytes >> 20)));
  LogLine(LogCode::kNotice, "");
  if (auto notice = g_failureNotice.load()) notice(std::uint64_t{n} + kFrame);
  LogLine(LogCode::kNotice, "Alloc mem failed!");
  EndProcess(1);
}

void AddToTotal(const void* data, std::uint64_t cost) {
  PoolState& s = State();
  std::uint64_t bigTotal = 0;
  std::uint64_t newLevel = 0;
  std::string (*summary)() = nullptr;
  {
    std::lock_guard<std::mutex> guard(s.totalLock);
    s.live.insert(data);
    s.total += cost;
    const std::uint64_t level = s.total / kLevelStep;
    if (level > s.level) {
      s.level = level;
      if (level >= 10) {
        bigTotal = s.total;
        newLevel = level;
        summary = s.summary;
      }
    }
  }
  if (newLevel == 0) return;
  std::string line = Format("Mem big: %llu(MB)", static_cast<unsigned long long>(bigTotal >> 20));
  if (newLevel <= 12 && summary) line += "   " + summary();
  LogLine(LogCode::kMemoryTotal, line);
}

void ReleaseBlock(void* p, std::uint32_t size) {
  FreeLargeBlock(static_cast<std::uint8_t*>(p) - kHeader, static_cast<std::size_t>(size + kFrame));
}

// Frees queued blocks as the queue's rules ask; the caller holds deferLock.
void CleanDeferred(PoolState& s) {
  constexpr std::size_t kMaxQueued = 64;
  while (s.deferred.size() > kMaxQueued) {
    PoolFree(s.deferred.front().block);
    s.deferred.pop_front();
  }
  const auto now = std::chrono::steady_clock::now();
  while (!s.deferred.empty() && now - s.deferred.front().queued > std::chrono::milliseconds(200)) {
    PoolFree(s.deferred.front().block);
    s.deferred.pop_front();
  }
  if (PoolTotal() <= 0x400FFFFFull) return;
  while (!s.deferred.empty() && PoolTotal() > 0x40000000ull) {
    PoolFree(s.deferred.front().block);
    s.deferred.pop_front();
  }
}

}  // namespace

void* PoolAlloc(std::uint64_t n, std::uint16_t tag) {
  if (n == 0 || n > kPoolMaxRequest) {
    TraceLine(Format("Pool request refused: %llu bytes, tag %u", static_cast<unsigned long long>(n),
                     static_cast<unsigned>(tag)));
    return nullptr;
  }
  auto* raw = static_cast<std::uint8_t*>(AllocLargeBlock(static_cast<std::size_t>(n + kFrame)));
  if (!raw) AllocationFailed(n, tag);
  const BlockHeader h{kMagic, tag, static_cast<std::uint32_t>(n)};
  std::memcpy(raw, &h, sizeof h);
  raw[kHeader + n] = kGuard;
  void* data = raw + kHeader;
  AddToTotal(data, n + kFrame);
  return data;
}

bool PoolFree(void* p) {
  if (!p) return true;
  PoolState& s = State();
  BlockHeader h{};
  {
    std::lock_guard<std::mutex> guard(s.totalLock);
    if (s.live.count(p)) h = ReadHeader(p);
    if (h.magic == kMagic) s.live.erase(p);
  }
  if (h.magic != kMagic) {
    PoolReport(kForeignCode, LogCode::kPoolHeader);
    return false;
  }
  const std::uint64_t cost = static_cast<std::uint64_t>(h.size) + kFrame;
  if (static_cast<const std::uint8_t*>(p)[h.size] == kGuard) {
    std::uint64_t total;
    bool underflow = false;
    {
      std::lock_guard<std::mutex> guard(s.totalLock);
      if (s.total < cost) underflow = true;
      else s.total -= cost;
      total = s.total;
    }
    if (underflow)
      LogLine(LogCode::kMemory, Format("Mem size: %llu    free size: %u", static_cast<unsigned long long>(total),
                         static_cast<unsigned>(h.size)));
  } else {
    PoolReport(h.tag, LogCode::kPoolGuard);
    std::lock_guard<std::mutex> guard(s.totalLock);
    s.total = s.total >= cost ? s.total - cost : 0;
  }
  ReleaseBlock(p, h.size);
  return true;
}

std::uint64_t PoolBlockSize(const void* p) {
  BlockHeader h{};
  return LiveHeader(p, h) ? h.size : 0;
}

void* PoolCopy(std::uint64_t n, std::uint16_t tag, void* dest, const void* src) {
  if (!dest || !src || n == 0) return nullptr;
  BlockHeader h{};
  if (!LiveHeader(dest, h)) {
    PoolReport(tag, LogCode::kPoolHeader);
    return nullptr;
  }
  if (n > h.size) {
    PoolReport(tag, LogCode::kPoolOperation);
    n = h.size;
  }
  std::memmove(dest, src, static_cast<std::size_t>(n));
  return dest;
}

void* PoolCopyAt(std::uint16_t tag, std::uint64_t n, void* dest, std::uint64_t offset,
                 const void* src) {
  BlockHeader h{};
  if (!dest || !src) return nullptr;
  if (!LiveHeader(dest, h)) {
    PoolReport(tag, LogCode::kPoolHeader);
    return nullptr;
  }
  const std::uint64_t size = h.size;
  // offset + n compared without forming the sum, which may wrap.
  if (offset > size || n > size - offset) {
    PoolReport(tag, LogCode::kPoolOperation);
    if (offset >= size) return nullptr;
    n = size - offset;
  }
  auto* at = static_cast<std::uint8_t*>(dest) + offset;
  if (n) std::memmove(at, src, static_cast<std::size_t>(n));
  return at;
}

void PoolReport(std::uint32_t code, LogCode type) {
  PoolState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.reportLock);
    if (!s.reported.insert(code).second) return;
  }
  const char* format = type == LogCode::kPoolHeader      ? "Mem begin err: %u  "
                       : type == LogCode::kPoolGuard     ? "Mem end err: %u  "
                       : type == LogCode::kPoolOperation ? "Mem oper: %u  "
                                                         : "Mem xxx: %u  ";
  const std::string line = Format(format, static_cast<unsigned>(code));
  LogLine(type, line);
  TraceLine(line);
}

std::uint64_t PoolTotal() {
  PoolState& s = State();
  std::lock_guard<std::mutex> guard(s.totalLock);
  return s.total;
}

bool PoolFailed() {
  PoolState& s = State();
  std::lock_guard<std::mutex> guard(s.totalLock);
  return s.failed;
}

void SetPoolFailureNotice(void (*notice)(std::uint64_t bytes)) { g_failureNotice.store(notice); }

void SetPoolSummarySource(std::string (*summary)()) {
  PoolState& s = State();
  std::lock_guard<std::mutex> guard(s.totalLock);
  s.summary = summary;
}

void DeferFree(void* block) {
  if (!block) return;
  PoolState& s = State();
  std::lock_guard<std::mutex> guard(s.deferLock);
  CleanDeferred(s);
  s.deferred.push_back({block, std::chrono::steady_clock::now()});
}

void FlushDeferred() {
  SleepMs(200);
  PoolState& s = State();
  std::lock_guard<std::mutex> guard(s.deferLock);
  while (!s.deferred.empty()) {
    PoolFree(s.deferred.front().block);
    s.deferred.pop_front();
  }
}

}  // namespace ambrel
