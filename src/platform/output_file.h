// Output files of the copy-out: recovered files, their folders and the
// temporary copies of "open". Nothing here ever opens a source device.
//
// Threads: an OutputFile belongs to the thread that created it; the free
// functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_sink.h"

namespace ambrel {

// An open folder: files are made and renamed in it by their names alone,
// without the folder's path being looked up again for each (a copy of many
// small files into one folder), and a folder renamed or replaced by a link
// meanwhile does not move the writes elsewhere.
class OutputFolder {
 public:
  OutputFolder() = default;
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;
  ~OutputFolder();
  // Opens `path` (a real folder, no link followed in its last component).
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  friend class OutputFile;
  int fd_ = -1;
  std::string path_;
};

class OutputFile final : public ByteSink {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Creates the file or truncates an existing one (write only, mode 0644).
  // Refuses to follow a symbolic link in the last component, so a link
  // planted in the target folder cannot redirect the write elsewhere.
  bool Create(const std::string& path);
  // Creates a new file under a unique temporary name (".ambrel-partial-"
  // and six characters) in `folder`, for a file that takes its real name
  // only when it is complete (CommitAs). An interrupted copy thus never
  // carries the real name. The file holds an exclusive lock while open, so
  // that RemovePartialLeftovers passes over a copy still being written.
  bool CreateTemporary(const std::string& folder);
  // The same in an open folder; CommitAs then renames within it when the
  // new path lies in that folder.
  bool CreateTemporary(const OutputFolder& folder);
  // Closes the temporary file and renames it to `path`, replacing whatever
  // file is there: a hard link at `path` is replaced, never written through.
  // False (the temporary file is kept) when the close or rename fails.
  bool CommitAs(const std::string& path);
  // Closes the file and, when it is a temporary one, removes it.
  void Discard();
  // The temporary name ("" for files made by Create).
  const std::string& TemporaryPath() const { return temporary_; }
  // Writes all `size` bytes (looping over partial writes); false on any
  // error, including a full disk.
  bool Write(const void* bytes, std::size_t size) override;
  // Cuts the file to `size` bytes.
  bool Truncate(std::uint64_t size);
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }
  // errno of the last failed call (0 when none).
  int LastError() const { return lastError_; }

 private:
  bool CreateTemporaryAt(int folderFd, const std::string& folderPath);

  int fd_ = -1;
  int lastError_ = 0;
  std::string temporary_;
  // The folder the temporary file was made in, when made in an open one:
  // its descriptor (valid while that OutputFolder stays open) and path.
  int folderFd_ = -1;
  std::string folderPath_;
};

// True for a name CreateTemporary makes: ".ambrel-partial-" and six
// letters or digits, nothing more.
bool IsPartialCopyName(const std::string& name);
// Removes the temporary files a killed copy left in `folder`: regular files
// (not links) named as IsPartialCopyName says that no running copy holds
// locked. Nothing else in the folder is touched. Returns the names removed.
std::vector<std::string> RemovePartialLeftovers(const std::string& folder);

// True when anything (file, folder, link, even a dangling one) is at `path`.
bool PathExists(const std::string& path);
// True when `path` is a regular file itself, not a link to one.
bool IsRegularFile(const std::string& path);
// True when `path` is a folder itself, not a link to one.
bool IsRealFolder(const std::string& path);
// What is at a path, told by one look that does not follow a link.
enum class PathKind { kNothing, kRegularFile, kFolder, kOther };
PathKind KindAtPath(const std::string& path);
// Creates one folder (its parent must exist); false when it already exists
// or cannot be made.
bool MakeFolder(const std::string& path);
// Bytes available to an unprivileged writer on the file system holding
// `folder`; false when they cannot be read.
bool FreeBytesOfFolder(const std::string& folder, std::uint64_t& bytes);

}  // namespace ambrel
