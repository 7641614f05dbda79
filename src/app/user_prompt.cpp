#include "app/user_prompt.h"

#include <atomic>
#include <cstdio>

namespace ambrel {
namespace {

class StderrPrompt final : public UserPrompt {
 public:
  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
  bool AskYesNo(const std::string& text) override {
    ShowMessage(text);
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

void ShowUserMessage(const std::string& text) { CurrentUserPrompt().ShowMessage(text); }

}  // namespace ambrel
