// A helper program run under bounds: whatever it does, the caller gets a
// typed end, in bounded time, and its own process is untouched.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "platform/bounded_child.h"

namespace ambrel {
namespace {

ChildRun Shell(const std::string& script, const std::vector<std::uint8_t>& input, ChildLimits limits) {
  return RunBoundedChild("/bin/sh", {"-c", script}, ByteSpan(input.data(), input.size()), limits);
}

ChildLimits Wall(std::uint32_t ms) {
  ChildLimits limits;
  limits.wallMs = ms;
  return limits;
}

TEST(BoundedChild, ALargeInputComesBackWholeWhileTheChildWritesAsItReads) {
  // 4 MiB both ways: far above the socket buffers, so the caller must send
  // and receive at once or both sides wait on each other.
  std::vector<std::uint8_t> input(4u << 20);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));
  const ChildRun run = Shell("cat", input, Wall(60'000));
  ASSERT_EQ(int(run.end), int(ChildEnd::kExited));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.output == input);
}

TEST(BoundedChild, ExitCodesSignalsLoopsAndFloodsEachGiveTheirEnd) {
  const ChildRun exited = Shell("head -c 3; exit 5", {'a', 'b', 'c', 'd'}, Wall(60'000));
  EXPECT_EQ(int(exited.end), int(ChildEnd::kExited));
  EXPECT_EQ(exited.exitCode, 5);
  EXPECT_EQ(std::string(exited.output.begin(), exited.output.end()), "abc");

  const ChildRun crashed = Shell("kill -SEGV $$", {}, Wall(60'000));
  EXPECT_EQ(int(crashed.end), int(ChildEnd::kCrashed));
  EXPECT_EQ(crashed.signal, SIGSEGV);

  // Asleep with its output open: only the wall clock ends it.
  const auto start = std::chrono::steady_clock::now();
  const ChildRun asleep = Shell("exec sleep 30", {}, Wall(300));
  EXPECT_EQ(int(asleep.end), int(ChildEnd::kTimedOut));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  // Busy: the CPU limit ends it, the wall clock far away.
  ChildLimits cpu = Wall(120'000);
  cpu.cpuSeconds = 1;
  const ChildRun busy = Shell("while :; do :; done", {}, cpu);
  EXPECT_EQ(int(busy.end), int(ChildEnd::kTimedOut));

  ChildLimits small = Wall(60'000);
  small.maxOutputBytes = 1000;
  const ChildRun flood = Shell("yes", {}, small);
  EXPECT_EQ(int(flood.end), int(ChildEnd::kOutputTooLong));
  EXPECT_TRUE(flood.output.empty());

  // It stops reading at once: the input left unsent raises no SIGPIPE here.
  const ChildRun deaf = Shell("exit 0", std::vector<std::uint8_t>(8u << 20, 1), Wall(60'000));
  EXPECT_EQ(int(deaf.end), int(ChildEnd::kExited));

  const ChildRun missing = RunBoundedChild("/nonexistent/helper", {}, {}, Wall(60'000));
  EXPECT_EQ(int(missing.end), int(ChildEnd::kCannotStart));
}

TEST(BoundedChild, TheAddressSpaceLimitHoldsInTheChildOnly) {
  ChildLimits limits = Wall(60'000);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' shadow memory needs an unbounded address space";
#endif
  limits.addressSpaceBytes = 256u << 20;
  // The limit the child runs under, as the shell reports it (in KiB).
  const ChildRun run = Shell("ulimit -v", {}, limits);
  ASSERT_EQ(int(run.end), int(ChildEnd::kExited));
  EXPECT_EQ(std::string(run.output.begin(), run.output.end()), "262144\n");
  const ChildRun here = Shell("ulimit -v", {}, Wall(60'000));
  EXPECT_NE(std::string(here.output.begin(), here.output.end()), "262144\n");
}

// `cat` answers every framed request with the same frame: a server that
// echoes, without a helper of its own.
TEST(ServingChild, OneChildAnswersRequestAfterRequestLargeOnesIncluded) {
  ServingChild echo("/bin/sh", {"-c", "exec cat"}, Wall(60'000), 100);
  std::vector<std::uint8_t> large(3u << 20);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 13 + (i >> 11));
  int pid = 0;
  for (int i = 0; i < 10; ++i) {
    const std::vector<std::uint8_t> request = i == 4 ? large : std::vector<std::uint8_t>(std::size_t(i), 'x');
    const ChildRun run = echo.Exchange(ByteSpan(request.data(), request.size()));
    ASSERT_EQ(int(run.end), int(ChildEnd::kReplied)) << i;
    EXPECT_TRUE(run.output == request) << i;
    if (i == 0) pid = echo.Pid();
    EXPECT_EQ(echo.Pid(), pid);
  }
  echo.Stop();
  EXPECT_EQ(echo.Pid(), 0);
  EXPECT_FALSE(ProcessExists(pid));
}

// A request sent in parts arrives as one frame; a child that answers one
// request with two frames gives the second to Receive, and Receive with no
// child running says so instead of waiting.
TEST(ServingChild, ARequestInPartsIsOneFrameAndAFurtherReplyIsReceived) {
  // Echoes the frame, then sends it once more.
  ServingChild twice("/bin/sh", {"-c", "head -c 8 >f; head -c $(od -An -tu8 f) >b; cat f b f b; exec sleep 30"},
                     Wall(5'000), 100);
  std::vector<std::uint8_t> large(1u << 20);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
  const std::vector<std::uint8_t> head = {'h', 'e', 'a', 'd'}, empty;
  const ByteSpan parts[4] = {ByteSpan(head.data(), head.size()), ByteSpan(empty.data(), 0),
                             ByteSpan(large.data(), large.size()), ByteSpan(head.data(), 2)};
  std::vector<std::uint8_t> whole = head;
  whole.insert(whole.end(), large.begin(), large.end());
  whole.insert(whole.end(), head.begin(), head.begin() + 2);
  const ChildRun first = twice.Exchange(parts);
  ASSERT_EQ(int(first.end), int(ChildEnd::kReplied));
  EXPECT_TRUE(first.output == whole);
  const ChildRun second = twice.Receive();
  ASSERT_EQ(int(second.end), int(ChildEnd::kReplied));
  EXPECT_TRUE(second.output == whole);
  // No third reply comes: the wall clock ends the wait and the child.
  const ChildRun none = twice.Receive();
  EXPECT_EQ(int(none.end), int(ChildEnd::kTimedOut));
  EXPECT_EQ(twice.Pid(), 0);
  EXPECT_EQ(int(twice.Receive().end), int(ChildEnd::kCrashed));
}

TEST(ServingChild, AFailedRequestLeavesNoChildAndTheNextStartsAnother) {
  const std::vector<std::uint8_t> request = {1, 2, 3};
  const ByteSpan span(request.data(), request.size());
  // Its reply's length is read as "y\ny\ny\ny\n": far past the bound.
  ServingChild flood("/bin/sh", {"-c", "exec yes"}, Wall(60'000), 100);
  EXPECT_EQ(int(flood.Exchange(span, 1000).end), int(ChildEnd::kOutputTooLong));
  EXPECT_EQ(flood.Pid(), 0);

  ServingChild quits("/bin/sh", {"-c", "exit 3"}, Wall(60'000), 100);
  const ChildRun exited = quits.Exchange(span);
  EXPECT_EQ(int(exited.end), int(ChildEnd::kExited));
  EXPECT_EQ(exited.exitCode, 3);
  EXPECT_EQ(quits.Pid(), 0);

  // Answers once, then sleeps: the second request runs out of its wall clock.
  ServingChild once("/bin/sh", {"-c", "head -c 11; exec sleep 30"}, Wall(2'000), 100);
  ASSERT_EQ(int(once.Exchange(span).end), int(ChildEnd::kReplied));
  const int asleep = once.Pid();
  EXPECT_EQ(int(once.Exchange(span).end), int(ChildEnd::kTimedOut));
  EXPECT_EQ(once.Pid(), 0);
  EXPECT_FALSE(ProcessExists(asleep));
  ASSERT_EQ(int(once.Exchange(span).end), int(ChildEnd::kReplied));  // a fresh one
  EXPECT_NE(once.Pid(), 0);

  ServingChild missing("/nonexistent/helper", {}, Wall(60'000), 100);
  EXPECT_EQ(int(missing.Exchange(span).end), int(ChildEnd::kCannotStart));
}

TEST(ServingChild, AChildIsReplacedAfterItsRequestsAndAfterStrayBytes) {
  const std::vector<std::uint8_t> request = {7};
  const ByteSpan span(request.data(), request.size());
  ServingChild echo("/bin/sh", {"-c", "exec cat"}, Wall(60'000), 3);
  std::vector<int> pids;
  for (int i = 0; i < 7; ++i) {
    ASSERT_EQ(int(echo.Exchange(span).end), int(ChildEnd::kReplied));
    pids.push_back(echo.Pid());
  }
  EXPECT_EQ(pids[0], pids[2]);
  EXPECT_NE(pids[2], pids[3]);
  EXPECT_EQ(pids[3], pids[5]);
  EXPECT_NE(pids[5], pids[6]);

  // Two replies to one request: the second must not pass for the answer to
  // the next one, which a fresh child answers instead.
  ServingChild twice("/bin/sh",
                     {"-c",
                      "head -c 9 >/dev/null; "
                      "printf '\\001\\0\\0\\0\\0\\0\\0\\0\\007\\001\\0\\0\\0\\0\\0\\0\\0\\007'; "
                      "exec sleep 30"},
                     Wall(60'000), 100);
  ASSERT_EQ(int(twice.Exchange(span).end), int(ChildEnd::kReplied));
  const int chatty = twice.Pid();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the second frame has arrived
  const ChildRun next = twice.Exchange(span);
  ASSERT_EQ(int(next.end), int(ChildEnd::kReplied));
  EXPECT_TRUE(next.output == request);
  EXPECT_NE(twice.Pid(), chatty);
  EXPECT_FALSE(ProcessExists(chatty));
}

TEST(ServingChild, StoppingEndsAChildThatNoLongerReadsItsInput) {
  const std::vector<std::uint8_t> empty;
  ServingChild deaf("/bin/sh", {"-c", "head -c 8; exec sleep 30"}, Wall(60'000), 100);
  const ChildRun run = deaf.Exchange(ByteSpan(empty.data(), empty.size()));
  ASSERT_EQ(int(run.end), int(ChildEnd::kReplied));
  EXPECT_TRUE(run.output.empty());
  const int pid = deaf.Pid();
  const auto start = std::chrono::steady_clock::now();
  deaf.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(ProcessExists(pid));
}

}  // namespace
}  // namespace ambrel
