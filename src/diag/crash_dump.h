// The crash handler. On a fatal signal it creates the crash marker
// "QVD_Crash_{FC1A0E29-3523-4152-B110-3340363E5DE7}" in the runtime folder
// (an outside watcher learns of the crash from it), writes the dump
// "<build>_<day><hour><minute>.dmp" (two digits each) with the signal and a
// backtrace into the program folder, logs "Exit exception" at level 27, and
// lets the signal end the process. The dump is kept on disk.
#pragma once

#include <string>

namespace ambrel {

inline constexpr unsigned kBuildNumber = 3779;
inline constexpr const char* kCrashEventName = "QVD_Crash_{FC1A0E29-3523-4152-B110-3340363E5DE7}";

// Installs the handler; the marker and dump folders are taken now (call it
// again after SetProgramFolder to move the dumps). Main thread.
void InstallCrashHandler();
// Where the marker goes.
std::string CrashMarkerPath();
// The dump name for a given day, hour and minute ("3779_081542.dmp").
std::string CrashDumpName(int day, int hour, int minute);

}  // namespace ambrel
