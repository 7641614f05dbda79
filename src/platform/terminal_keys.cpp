#include "platform/terminal_keys.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace ambrel {

struct TerminalKeys::Saved {
  termios mode{};
};

TerminalKeys::TerminalKeys() {
  if (!::isatty(STDIN_FILENO)) return;
  saved_ = new Saved;
  if (::tcgetattr(STDIN_FILENO, &saved_->mode) != 0) {
    delete saved_;
    saved_ = nullptr;
    return;
  }
  termios raw = saved_->mode;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

TerminalKeys::~TerminalKeys() {
  if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_->mode);
  delete saved_;
}

std::optional<char> TerminalKeys::Poll() {
  if (!active_) return std::nullopt;
  pollfd in{STDIN_FILENO, POLLIN, 0};
  if (::poll(&in, 1, 0) <= 0 || !(in.revents & POLLIN)) return std::nullopt;
  char key = 0;
  if (::read(STDIN_FILENO, &key, 1) != 1) return std::nullopt;
  return key;
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

}  // namespace ambrel
