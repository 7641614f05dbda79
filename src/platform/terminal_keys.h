// Single key presses from the controlling terminal, without Enter and
// without echo, for as long as the object lives (the previous terminal
// mode comes back when it goes). Does nothing when standard input is not
// a terminal. Main thread.
#pragma once

#include <optional>

namespace ambrel {

class TerminalKeys {
 public:
  TerminalKeys();
  ~TerminalKeys();
  TerminalKeys(const TerminalKeys&) = delete;
  TerminalKeys& operator=(const TerminalKeys&) = delete;

  bool active() const { return active_; }
  // The next key pressed, if one is waiting; never blocks.
  std::optional<char> Poll();

 private:
  bool active_ = false;
  struct Saved;
  Saved* saved_ = nullptr;
};

// True when standard error is a terminal (progress lines are redrawn in
// place there; elsewhere they are written as separate lines).
bool StderrIsTerminal();

}  // namespace ambrel
