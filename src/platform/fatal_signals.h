// Fatal-signal plumbing for the crash handler (SIGSEGV, SIGBUS, SIGILL,
// SIGFPE, SIGABRT), and the async-signal-safe pieces it may use.
#pragma once

#include <cstddef>

namespace ambrel {

using FatalSignalCallback = void (*)(int signal);

// Runs `callback` on an alternate stack when a fatal signal arrives, then
// lets the signal end the process as it would have. Installed once (main
// thread, at static initialisation); later calls only replace the callback.
bool InstallFatalSignalHandlers(FatalSignalCallback callback);

// Async-signal-safe helpers.
int CreateFileForSignal(const char* path);       // O_CREAT|O_TRUNC, -1 on error
void CloseFileForSignal(int fd);
void WriteBacktraceForSignal(int fd);            // backtrace_symbols_fd
// Local day of month, hour and minute now, from the UTC offset captured at
// installation.
void LocalDayHourMinuteForSignal(int& day, int& hour, int& minute);

}  // namespace ambrel
