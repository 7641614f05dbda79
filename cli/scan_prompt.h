// The questions a deep scan asks, answered from the command line: whether
// to reuse a saved scan of this disk (--reuse) and whether to save the
// scan at its end (--save). Other questions and every message go to the
// program's own prompt. Called from the scan's threads.
#pragma once

#include <string>

#include "app/notify.h"

namespace ambrel::cli {

enum class Answer { kAsk, kYes, kNo };

class ScanPrompt final : public UserPrompt {
 public:
  ScanPrompt(UserPrompt& inner, Answer reuse, Answer save) : inner_(inner), reuse_(reuse), save_(save) {}
  void Show(const PromptMessage& message) override { inner_.Show(message); }
  bool Ask(const PromptMessage& question) override;
  // Whether the scan's own end-of-scan offer was answered yes.
  bool savedAtEnd() const { return savedAtEnd_; }

 private:
  UserPrompt& inner_;
  Answer reuse_;
  Answer save_;
  bool savedAtEnd_ = false;
};

// "yes", "no" or "ask"; false for anything else.
bool ParseAnswer(const std::string& text, Answer& out);

}  // namespace ambrel::cli
