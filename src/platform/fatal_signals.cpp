#include "platform/fatal_signals.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <ctime>

namespace ambrel {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

std::atomic<FatalSignalCallback> g_callback{nullptr};
std::atomic<bool> g_installed{false};
std::atomic<bool> g_inCrash{false};
long g_utcOffsetSeconds = 0;

void OnFatalSignal(int signal) {
  // Only the first crashing thread writes the record; the handler was reset
  // to the default action (SA_RESETHAND), so re-raising ends the process.
  if (!g_inCrash.exchange(true)) {
    if (FatalSignalCallback cb = g_callback.load()) cb(signal);
  }
  ::raise(signal);
}

// Days since 1970-01-01 to the day of the month (civil calendar).
int DayOfMonth(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  return static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
}

}  // namespace

bool InstallFatalSignalHandlers(FatalSignalCallback callback) {
  g_callback.store(callback);
  if (g_installed.exchange(true)) return true;

  std::time_t now = std::time(nullptr);
  struct tm local {};
  if (::localtime_r(&now, &local)) g_utcOffsetSeconds = local.tm_gmtoff;
  // The first backtrace() loads its unwinder; do it now, not in the handler.
  void* frames[4];
  ::backtrace(frames, 4);

  static char altStack[64 * 1024];
  stack_t ss{};
  ss.ss_sp = altStack;
  ss.ss_size = sizeof altStack;
  ::sigaltstack(&ss, nullptr);

  struct sigaction sa {};
  sa.sa_handler = OnFatalSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
  bool ok = true;
  for (int s : kFatalSignals) ok = ::sigaction(s, &sa, nullptr) == 0 && ok;
  return ok;
}

int CreateFileForSignal(const char* path) {
  return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void CloseFileForSignal(int fd) {
  if (fd >= 0) ::close(fd);
}

void WriteBacktraceForSignal(int fd) {
  if (fd < 0) return;
  void* frames[64];
  const int n = ::backtrace(frames, 64);
  ::backtrace_symbols_fd(frames, n, fd);
}

void LocalDayHourMinuteForSignal(int& day, int& hour, int& minute) {
  const std::int64_t t = static_cast<std::int64_t>(::time(nullptr)) + g_utcOffsetSeconds;
  std::int64_t days = t / 86400;
  std::int64_t secs = t % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  day = DayOfMonth(days);
  hour = static_cast<int>(secs / 3600);
  minute = static_cast<int>(secs / 60 % 60);
}

}  // namespace ambrel
