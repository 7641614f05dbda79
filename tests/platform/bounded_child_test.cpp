// A helper program run under bounds: whatever it does, the caller gets a
// typed end, in bounded time, and its own process is untouched.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
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

}  // namespace
}  // namespace ambrel
