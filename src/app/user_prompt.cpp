#include "app/user_prompt.h"

#include <atomic>
#include <cstdio>

namespace ambrel {
namespace {

// Before a front end is installed nothing can word a message: its number
// and subject still reach the terminal.
class StderrPrompt final : public UserPrompt {
 public:
  void Show(const PromptMessage& m) override {
    std::fprintf(stderr, "message %u %s\n", static_cast<unsigned>(m.id), m.subject.c_str());
    std::fflush(stderr);
  }
  bool Ask(const PromptMessage& m) override {
    Show(m);
    return false;
  }
};

StderrPrompt g_defaultPrompt;
std::atomic<UserPrompt*> g_prompt{nullptr};

}  // namespace

void SetUserPrompt(UserPrompt* prompt) { g_prompt.store(prompt, std::memory_order_release); }

UserPrompt& CurrentUserPrompt() {
  UserPrompt* p = g_prompt.load(std::memory_order_acquire);
  return p ? *p : g_defaultPrompt;
}

void ShowUserMessage(const PromptMessage& message) { CurrentUserPrompt().Show(message); }

}  // namespace ambrel
