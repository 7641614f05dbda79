// Output files of the copy-out: recovered files, their folders and the
// temporary copies of "open". Nothing here ever opens a source device.
//
// Threads: an OutputFile belongs to the thread that created it; the free
// functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace ambrel {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Creates the file or truncates an existing one (write only, mode 0644).
  // Refuses to follow a symbolic link in the last component, so a link
  // planted in the target folder cannot redirect the write elsewhere.
  bool Create(const std::string& path);
  // Writes all `size` bytes (looping over partial writes); false on any
  // error, including a full disk.
  bool Write(const void* bytes, std::size_t size);
  // Cuts the file to `size` bytes.
  bool Truncate(std::uint64_t size);
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }
  // errno of the last failed call (0 when none).
  int LastError() const { return lastError_; }

 private:
  int fd_ = -1;
  int lastError_ = 0;
};

// True when anything (file, folder, link, even a dangling one) is at `path`.
bool PathExists(const std::string& path);
// True when `path` is a folder itself, not a link to one.
bool IsRealFolder(const std::string& path);
// Creates one folder (its parent must exist); false when it already exists
// or cannot be made.
bool MakeFolder(const std::string& path);
// Bytes available to an unprivileged writer on the file system holding
// `folder`; false when they cannot be read.
bool FreeBytesOfFolder(const std::string& folder, std::uint64_t& bytes);

}  // namespace ambrel
