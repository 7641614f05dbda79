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
// Threads: any thread; each call runs its own child.
#pragma once

#include <cstdint>
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
  kCrashed,       // ended by a signal other than the CPU limit's: `signal`
  kTimedOut,      // past its wall-clock or CPU limit, killed
  kOutputTooLong, // wrote more than maxOutputBytes, killed
  kCannotStart,   // no pipe, no process, or the program would not execute
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

}  // namespace ambrel
