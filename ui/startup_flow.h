// Start-up of the desktop program: the core's sequence (identity file and
// resource pack, settings, single-instance guard, run counter, log line)
// with its failures shown in message boxes.
#pragma once

#include <string>

#include "session/program.h"
#include "session/worded_prompt.h"

namespace ambrel::ui {

// Runs the start-up sequence with `prompt` for its messages. Returns the
// exit status the program ends with when start-up fails, or 0 when the
// main window may open.
int RunGuiStartup(StartupOptions options, WordedPrompt& prompt);

}  // namespace ambrel::ui
