#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace ambrel {

SingleInstanceGuard::~SingleInstanceGuard() { Release(); }

std::string SingleInstanceGuard::LockPath(const std::string& name) {
  std::string safe;
  for (unsigned char c : name) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       c == '-' || c == '_' || c == '.' || c == '{' || c == '}' || c >= 0x80;
    safe += plain ? static_cast<char>(c) : '_';
  }
  if (safe.empty() || safe[0] == '.') safe = std::string(1, '_') + safe;
  return RuntimeFolder() + "ambrel-" + safe + ".lock";
}

SingleInstanceGuard::Result SingleInstanceGuard::Acquire(const std::string& name) {
  Release();
  const std::string path = LockPath(name);
  // Read-only is enough for flock, and lets another user share a lock file in /tmp.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return Result::kFailed;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? Result::kAlreadyRunning : Result::kFailed;
  }
  fd_ = fd;
  return Result::kAcquired;
}

void SingleInstanceGuard::Release() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace ambrel
