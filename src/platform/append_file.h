// A file opened for appending whole records: each Append is one write()
// on a descriptor opened with O_APPEND, so records from several threads or
// processes never interleave inside a record (on a local file system).
// The owner serialises Open/Close against Append.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ambrel {

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  bool Open(const std::string& path);
  void Close();
  bool is_open() const { return fd_ >= 0; }
  // Appends the bytes; retries short writes; false on error.
  bool Append(std::string_view bytes);
  // The descriptor, for the crash path (which may not take locks).
  int handle() const { return fd_; }

 private:
  int fd_ = -1;
};

// Async-signal-safe helpers for the crash path.
void AppendForSignal(int fd, const char* bytes, std::size_t size);

}  // namespace ambrel
