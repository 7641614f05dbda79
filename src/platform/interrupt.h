// Ctrl+C and termination requests turned into a flag that a front end polls
// (the command line stops a running copy with it instead of dying halfway
// through a file).
// Install from the main thread; poll from any thread.
#pragma once

namespace ambrel {

// Catches SIGINT and SIGTERM from now on; the first one sets the flag, a
// second one ends the process as usual.
void CatchInterrupts();
bool InterruptRequested();
void ClearInterrupt();

}  // namespace ambrel
