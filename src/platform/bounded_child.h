// A helper program run on bytes it must not be trusted with in-process: the
// child gets `input` on its standard input and its standard output is
// collected, under bounds on its address space, its CPU time and the wall
// clock. Whatever the child does (crash, loop, exhaust its memory), the
// caller gets a typed end and lives on.
//
// The child is started with fork+exec: after fork in a program with several
// threads only async-signal-safe calls are allowed, so every string the
// child needs is prepared before the fork and the child only redirects,
// sets its limits and executes.
//
// ServingChild keeps one such child running between requests: each request
// is a message to it and one message back, under a wall clock of its own.
//
// Threads: RunBoundedChild from any thread, each call runs its own child; a
// ServingChild from one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel {

struct ChildLimits {
  std::uint64_t addressSpaceBytes = 0;  // RLIMIT_AS; 0: none
  std::uint32_t cpuSeconds = 0;         // RLIMIT_CPU; 0: none
  std::uint32_t wallMs = 0;             // killed after this long; 0: none
  std::uint64_t maxOutputBytes = 0;     // killed when it writes more; 0: none
};

enum class ChildEnd : std::uint8_t {
  kExited,        // exited by itself: `exitCode`
  kCrashed,       // ended by a signal other than the CPU limit's: `signal`;
                  // (ServingChild) also: ended or broke the framing unasked
  kTimedOut,      // past its wall-clock or CPU limit, killed
  kOutputTooLong, // wrote more than maxOutputBytes, killed
  kCannotStart,   // no pipe, no process, or the program would not execute
  kReplied,       // (ServingChild) answered the request and serves on
};

struct ChildRun {
  ChildEnd end = ChildEnd::kCannotStart;
  int exitCode = -1;
  int signal = 0;
  std::vector<std::uint8_t> output;
};

// Runs `program` with `args` (argv[1]...), its standard error sent to
// /dev/null and no other descriptor of the caller open.
ChildRun RunBoundedChild(const std::string& program, const std::vector<std::string>& args, ByteSpan input,
                         const ChildLimits& limits);

// A child that serves request after request on its standard input and
// output, each message framed as a u64 little-endian length and that many
// bytes. The child is started by the first request (fork+exec as above, the
// same address-space and CPU limits, and killed should this process die);
// `limits.wallMs` bounds each request, counted from the moment it is sent.
//
// A request that ends any other way than kReplied leaves no child: one
// past its wall clock, that writes a longer reply than allowed or a
// malformed frame is killed, one that exits or crashes is reaped, and the
// next request starts a fresh one. So that a request always has most of the
// CPU limit to itself although RLIMIT_CPU counts the process's whole life,
// the child is also replaced before a request once it has used a quarter of
// its CPU limit, or after `maxRequests` requests (which bounds what its heap
// gathers over time).
class ServingChild {
 public:
  ServingChild(std::string program, std::vector<std::string> args, ChildLimits limits, std::uint32_t maxRequests);
  ~ServingChild();  // Stop()
  ServingChild(const ServingChild&) = delete;
  ServingChild& operator=(const ServingChild&) = delete;

  // The reply in `output` with kReplied, else how the child ended (its
  // output is then empty). `maxReplyBytes` 0: limits.maxOutputBytes.
  ChildRun Exchange(ByteSpan request, std::uint64_t maxReplyBytes = 0);
  // The same with the request in parts, sent one after another as one
  // message (a header and the large bytes it describes, never copied into
  // one buffer).
  ChildRun Exchange(std::span<const ByteSpan> parts, std::uint64_t maxReplyBytes = 0);
  // A further reply to the last request, for a child that answers one
  // request with several messages; the same wall clock per reply and the
  // same ends as Exchange (kCrashed when no child is running).
  ChildRun Receive(std::uint64_t maxReplyBytes = 0);
  // Closes the child's input, gives it a moment to exit, then kills it;
  // reaped either way.
  void Stop();
  // The running child's process id; 0 when there is none.
  int Pid() const { return pid_; }

 private:
  class Forker;
  bool Start();
  void Kill();
  ChildRun Converse(std::span<const ByteSpan> parts, bool send, std::uint64_t maxReplyBytes);

  std::string program_;
  std::vector<std::string> args_;
  ChildLimits limits_;
  std::uint32_t maxRequests_;
  int pid_ = 0;
  int sock_ = -1;
  std::uint32_t served_ = 0;
  std::unique_ptr<Forker> forker_;
};

// The CPU time (user and system) process `pid` has used, in milliseconds;
// nothing when it cannot be read.
std::optional<std::uint64_t> ProcessCpuMs(int pid);
// True while a process `pid` exists (a zombie included).
bool ProcessExists(int pid);

}  // namespace ambrel
