#include "diag/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "diag/log.h"

namespace ambrel {
namespace {

TEST(Threads, CountFollowsBeginAndEnd) {
  const std::int32_t base = ThreadCount();
  std::atomic<bool> release{false};
  std::atomic<int> started{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < 3; ++i)
    workers.emplace_back([&] {
      ThreadBegin("TestWorkerThread");
      ++started;
      while (!release) std::this_thread::yield();
      ThreadEnd("TestWorkerThread");
    });
  while (started < 3) std::this_thread::yield();
  EXPECT_EQ(ThreadCount(), base + 3);
  EXPECT_FALSE(WaitForWorkers(20));
  release = true;
  for (auto& w : workers) w.join();
  EXPECT_EQ(ThreadCount(), base);
  EXPECT_TRUE(WaitForWorkers(0));
  const std::string log = RecentLogText();
  EXPECT_NE(log.find("TestWorkerThread     Thread "), std::string::npos);
  EXPECT_NE(log.find(" end! Thread num=0  "), std::string::npos);
}

}  // namespace
}  // namespace ambrel
