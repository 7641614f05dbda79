#include "platform/file_device.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ambrel {
namespace {

int OpenReadOnly(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // never blocks on a FIFO
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A descriptor shared by every copy of a DiskHandle. Reads use pread, so the
// descriptor has no position that two holders could disturb.
class FileDevice final : public BlockDevice {
 public:
  FileDevice(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~FileDevice() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDevice(const FileDevice&) = delete;
  FileDevice& operator=(const FileDevice&) = delete;

  // Keeps reading until the length is done, the end is reached or an error
  // occurs; a short result therefore means the end of the data.
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return -1;
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
      ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return done > 0 ? static_cast<std::int64_t>(done) : -1;
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
  }

  // Block devices report their length through BLKGETSIZE64, files through
  // fstat; as a last resort the end position of the descriptor.
  std::uint64_t SizeBytes() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
    if (S_ISBLK(st.st_mode)) {
      std::uint64_t bytes = 0;
      if (::ioctl(fd_, BLKGETSIZE64, &bytes) == 0 && bytes != 0) return bytes;
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0) return static_cast<std::uint64_t>(st.st_size);
    off_t end = ::lseek(fd_, 0, SEEK_END);
    return end > 0 ? static_cast<std::uint64_t>(end) : 0;
  }

  // Opens the path afresh and moves the new descriptor onto the old number,
  // so every holder of this device (and any copy of its number) reads
  // through the new one and no stale number can be reused by another file.
  bool Reopen() override {
    int fresh = OpenReadOnly(path_);
    if (fresh < 0) return false;
    if (::dup2(fresh, fd_) < 0) {
      ::close(fresh);
      return false;
    }
    ::close(fresh);
    return true;
  }

  std::string Path() const override { return path_; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

std::shared_ptr<BlockDevice> OpenFileDevice(const std::string& path, OpenFailure* failure) {
  OpenFailure reason = OpenFailure::kNone;
  std::shared_ptr<BlockDevice> device;
  // Only image files and block devices: opening a FIFO would block, and a
  // character device has no size.
  struct stat before {};
  if (::stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode) && !S_ISBLK(before.st_mode)) {
    if (failure) *failure = S_ISDIR(before.st_mode) ? OpenFailure::kDirectory : OpenFailure::kNotDisk;
    return nullptr;
  }
  int fd = OpenReadOnly(path);
  if (fd < 0) {
    reason = errno == ENOENT || errno == ENOTDIR ? OpenFailure::kMissing
             : errno == EACCES || errno == EPERM ? OpenFailure::kNotReadable
                                                 : OpenFailure::kOther;
  } else {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      reason = OpenFailure::kOther;
    } else if (S_ISDIR(st.st_mode)) {
      reason = OpenFailure::kDirectory;
    } else if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
      reason = OpenFailure::kNotDisk;
    }
    if (reason != OpenFailure::kNone) {
      ::close(fd);
    } else {
      ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
      device = std::make_shared<FileDevice>(fd, path);
    }
  }
  if (failure) *failure = reason;
  return device;
}

const char* OpenFailureText(OpenFailure failure) {
  switch (failure) {
    case OpenFailure::kNone: return "no error";
    case OpenFailure::kMissing: return "no such file or device";
    case OpenFailure::kDirectory: return "is a directory";
    case OpenFailure::kNotReadable: return "permission denied";
    case OpenFailure::kNotDisk: return "not a disk, partition or image file";
    case OpenFailure::kOther: break;
  }
  return "cannot be opened";
}

bool IsBlockDeviceNode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

}  // namespace ambrel
