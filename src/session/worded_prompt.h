// The faces' side of the user prompt: every message and question of the
// core in the program's own words (session/texts.h), shown or asked as
// text by the face.
#pragma once

#include <string>

#include "app/notify.h"
#include "session/texts.h"

namespace ambrel {

class WordedPrompt : public UserPrompt {
 public:
  void Show(const PromptMessage& message) override { ShowMessage(PromptText(message)); }
  bool Ask(const PromptMessage& question) override { return AskYesNo(PromptText(question)); }
  virtual void ShowMessage(const std::string& text) = 0;
  virtual bool AskYesNo(const std::string& text) = 0;
};

}  // namespace ambrel
