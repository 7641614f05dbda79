#include "session/program.h"
#include "startup_flow.h"


namespace ambrel::ui {

int RunGuiStartup(StartupOptions options, WordedPrompt& prompt) {
  SetUserPrompt(&prompt);
  options.prompt = &prompt;
  switch (RunStartup(options)) {
    case StartupStatus::kSettingsError: return 3;
    case StartupStatus::kAlreadyRunning: return 4;
    case StartupStatus::kReady: break;
  }
  return 0;
}

}  // namespace ambrel::ui
