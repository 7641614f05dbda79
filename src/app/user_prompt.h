// The process-wide UserPrompt (app/notify.h) through which start-up shows
// its few blocking messages (settings error, single instance, out of
// memory). The front end installs its own on the main thread before
// start-up; without one, messages go to standard error by their number and
// questions answer "no".
#pragma once

#include "app/notify.h"

namespace ambrel {

// `prompt` must outlive every later call; null restores the default.
void SetUserPrompt(UserPrompt* prompt);
UserPrompt& CurrentUserPrompt();
void ShowUserMessage(const PromptMessage& message);

}  // namespace ambrel
