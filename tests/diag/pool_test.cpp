#include "diag/pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "diag/log.h"

namespace ambrel {
namespace {

std::size_t CountOccurrences(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (auto pos = haystack.find(needle); pos != std::string::npos;
       pos = haystack.find(needle, pos + 1))
    ++n;
  return n;
}

TEST(Pool, BlockIsZeroedFramedAndCounted) {
  const std::uint64_t before = PoolTotal();
  auto* p = static_cast<std::uint8_t*>(PoolAlloc(100, 4101));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(PoolTotal(), before + 109);
  EXPECT_EQ(PoolBlockSize(p), 100u);
  // Header: "CK", tag, size; guard "K" after the data.
  EXPECT_EQ(p[-8], 'C');
  EXPECT_EQ(p[-7], 'K');
  std::uint16_t tag;
  std::memcpy(&tag, p - 6, 2);
  EXPECT_EQ(tag, 4101);
  std::uint32_t size;
  std::memcpy(&size, p - 4, 4);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(p[100], 'K');
  EXPECT_TRUE(PoolFree(p));
  EXPECT_EQ(PoolTotal(), before);
  EXPECT_TRUE(PoolFree(nullptr));
}

TEST(Pool, RefusesZeroAndOversizedRequestsWithoutExiting) {
  const std::uint64_t before = PoolTotal();
  EXPECT_EQ(PoolAlloc(0, 1), nullptr);
  EXPECT_EQ(PoolAlloc(kPoolMaxRequest + 1, 1), nullptr);
  EXPECT_EQ(PoolAlloc(0xFFFFFFFFull, 1), nullptr);      // + 9 would wrap in 32 bits
  EXPECT_EQ(PoolAlloc(1ull << 40, 1), nullptr);
  EXPECT_EQ(PoolAlloc(~0ull, 1), nullptr);
  EXPECT_EQ(PoolTotal(), before);
  EXPECT_FALSE(PoolFailed());
}

TEST(Pool, BadHeaderIsReportedOnceAndNotFreed) {
  auto* p = static_cast<std::uint8_t*>(PoolAlloc(32, 4102));
  ASSERT_NE(p, nullptr);
  const std::uint64_t total = PoolTotal();
  p[-8] = 'X';  // damaged magic
  EXPECT_FALSE(PoolFree(p));
  EXPECT_FALSE(PoolFree(p));
  EXPECT_EQ(PoolTotal(), total);
  EXPECT_EQ(CountOccurrences(RecentLogText(), "Mem begin err: 999  "), 2u);  // log + trace, once
  // A pointer the pool never handed out is refused the same way, silently now.
  std::vector<std::uint8_t> foreign(64, 0);
  EXPECT_FALSE(PoolFree(foreign.data() + 8));
  EXPECT_EQ(CountOccurrences(RecentLogText(), "Mem begin err: 999  "), 2u);
  p[-8] = 'C';
  EXPECT_TRUE(PoolFree(p));
  EXPECT_FALSE(PoolFree(p));  // freed twice: recognised without touching it
}

TEST(Pool, OverrunGuardIsReportedOncePerTagAndBlockStillFreed) {
  const std::uint64_t before = PoolTotal();
  for (int round = 0; round < 2; ++round) {
    auto* p = static_cast<std::uint8_t*>(PoolAlloc(10, 4103));
    ASSERT_NE(p, nullptr);
    p[10] = 0;  // one byte past the end
    EXPECT_TRUE(PoolFree(p));
  }
  EXPECT_EQ(PoolTotal(), before);
  EXPECT_EQ(CountOccurrences(RecentLogText(), "Mem end err: 4103  "), 2u);
}

TEST(Pool, CopiesAreShortenedToTheBlock) {
  auto* d = static_cast<char*>(PoolAlloc(8, 4104));
  ASSERT_NE(d, nullptr);
  const char src[] = "0123456789ABCDEF";
  EXPECT_EQ(PoolCopy(16, 4104, d, src), d);
  EXPECT_EQ(std::string(d, 8), "01234567");
  EXPECT_EQ(static_cast<std::uint8_t>(d[8]), 'K');
  EXPECT_NE(RecentLogText().find("Mem oper: 4104  "), std::string::npos);

  EXPECT_EQ(PoolCopyAt(4105, 4, d, 6, "wxyz"), d + 6);
  EXPECT_EQ(std::string(d, 8), "012345wx");
  EXPECT_EQ(PoolCopyAt(4105, 1, d, 8, "q"), nullptr);
  // An offset near 2^64 must not wrap past the test.
  EXPECT_EQ(PoolCopyAt(4105, 16, d, ~0ull - 4, src), nullptr);
  EXPECT_EQ(PoolCopyAt(4105, 2, d, 0, "ab"), d);
  EXPECT_EQ(std::string(d, 8), "ab2345wx");
  EXPECT_EQ(PoolCopy(0, 4104, d, src), nullptr);
  EXPECT_EQ(PoolCopy(4, 4104, nullptr, src), nullptr);
  EXPECT_EQ(static_cast<std::uint8_t>(d[8]), 'K');
  EXPECT_TRUE(PoolFree(d));
}

TEST(Pool, ConcurrentAllocationKeepsTheTotal) {
  const std::uint64_t before = PoolTotal();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 2000; ++i) {
        void* p = PoolAlloc(static_cast<std::uint64_t>(1 + (i * 7 + t) % 300), 4106);
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(PoolFree(p));
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(PoolTotal(), before);
}

TEST(Pool, LargeTotalIsLoggedOncePerHundredMegabytes) {
  SetPoolSummarySource([] { return std::string("parts: 0"); });
  // 1000 MiB of zeroed memory is only reserved, not touched, by the system.
  void* big = PoolAlloc(1000ull << 20, 4108);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(PoolBlockSize(big), 1000ull << 20);
  void* more = PoolAlloc(50ull << 20, 4108);  // same level: no new line
  EXPECT_EQ(CountOccurrences(RecentLogText(), "Mem big: "), 1u);
  EXPECT_NE(RecentLogText().find("20\tMem big: 1000(MB)   parts: 0"), std::string::npos);
  EXPECT_TRUE(PoolFree(more));
  EXPECT_TRUE(PoolFree(big));
  SetPoolSummarySource(nullptr);
}

TEST(Pool, DeferredBlocksAreFreedByFlushAndQueueLimit) {
  const std::uint64_t before = PoolTotal();
  for (int i = 0; i < 10; ++i) DeferFree(PoolAlloc(1000, 4107));
  // Young blocks under the queue limit stay queued for readers.
  EXPECT_EQ(PoolTotal(), before + 10 * 1009);
  FlushDeferred();
  EXPECT_EQ(PoolTotal(), before);

  for (int i = 0; i < 100; ++i) DeferFree(PoolAlloc(1000, 4107));
  EXPECT_LE(PoolTotal(), before + 65 * 1009);
  EXPECT_GE(PoolTotal(), before + 64 * 1009);
  FlushDeferred();
  EXPECT_EQ(PoolTotal(), before);
  DeferFree(nullptr);
}

}  // namespace
}  // namespace ambrel
