#include "platform/append_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace ambrel {

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

void AppendFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool AppendFile::Append(std::string_view bytes) {
  if (fd_ < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

void AppendForSignal(int fd, const char* bytes, std::size_t size) {
  while (fd >= 0 && size > 0) {
    const ssize_t put = ::write(fd, bytes, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    bytes += put;
    size -= static_cast<std::size_t>(put);
  }
}

}  // namespace ambrel
