// The two interfaces through which the core talks to a front end (the CLI
// now, the desktop UI later). Implementations must be thread-safe: workers
// call them from their own threads.
#pragma once

#include <cstdint>
#include <string>

namespace ambrel {

// Receives the numbered notices (the catalogue's 1224-1233, 1128, the deep
// scan's 1126/1127, the preview's 1124) synchronously, in order, on the
// thread that raised them.
class NoticeListener {
 public:
  virtual ~NoticeListener() = default;
  virtual void OnNotice(std::uint32_t message, std::uint64_t wparam, std::uint64_t lparam) = 0;
};

// Shows a message to the user or asks a yes/no question; blocks the calling
// worker until answered.
class UserPrompt {
 public:
  virtual ~UserPrompt() = default;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual bool AskYesNo(const std::string& text) = 0;
};

}  // namespace ambrel
