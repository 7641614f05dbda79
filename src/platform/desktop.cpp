#include "platform/desktop.h"

#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace ambrel {

bool OpenWithDesktop(const std::string& target) {
  if (target.empty()) return false;
  pid_t pid = 0;
  char opener[] = "xdg-open";
  std::string arg = target;
  char* argv[] = {opener, arg.data(), nullptr};
  if (::posix_spawnp(&pid, opener, nullptr, nullptr, argv, environ) != 0) return false;
  // Reap the opener when it ends so it does not linger as a zombie.
  std::thread([pid] {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }).detach();
  return true;
}

}  // namespace ambrel
