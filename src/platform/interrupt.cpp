#include "platform/interrupt.h"

#include <signal.h>

#include <atomic>

namespace ambrel {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnInterrupt(int signal) {
  if (g_interrupted.exchange(true)) {
    ::signal(signal, SIG_DFL);
    ::raise(signal);
  }
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() { return g_interrupted.load(); }

void ClearInterrupt() { g_interrupted = false; }

}  // namespace ambrel
