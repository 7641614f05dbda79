#include "platform/container_image.h"

#include <libewf.h>
#include <libvhdi.h>
#include <libvmdk.h>

#include <cstring>
#include <mutex>

namespace ambrel {
namespace {

// Each library has its own error type with the same shape of API.
template <auto Sprint, auto Free, typename Error>
std::string TakeError(Error*& error) {
  if (!error) return "unknown error";
  char text[512] = {};
  Sprint(error, text, sizeof text);
  Free(&error);
  error = nullptr;
  std::string s(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  const std::size_t lastLine = s.rfind('\n');  // the innermost cause comes last
  return lastLine == std::string::npos ? s : s.substr(lastLine + 1);
}

std::string EwfError(libewf_error_t*& e) {
  return TakeError<libewf_error_sprint, libewf_error_free>(e);
}
std::string VhdiError(libvhdi_error_t*& e) {
  return TakeError<libvhdi_error_sprint, libvhdi_error_free>(e);
}
std::string VmdkError(libvmdk_error_t*& e) {
  return TakeError<libvmdk_error_sprint, libvmdk_error_free>(e);
}

class EwfImage final : public BlockDevice {
 public:
  explicit EwfImage(std::string path) : path_(std::move(path)) {}
  ~EwfImage() override {
    if (handle_) {
      libewf_handle_close(handle_, nullptr);
      libewf_handle_free(&handle_, nullptr);
    }
  }
  bool Open(std::string* why) {
    libewf_error_t* error = nullptr;
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(path_.c_str(), path_.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1)
      return Fail(why, EwfError(error));
    bool ok = libewf_handle_initialize(&handle_, &error) == 1 &&
              libewf_handle_open(handle_, names, count, LIBEWF_OPEN_READ, &error) == 1 &&
              libewf_handle_get_media_size(handle_, &size_, &error) == 1;
    libewf_glob_free(names, count, nullptr);
    if (!ok) return Fail(why, EwfError(error));
    // Cut or damaged segments open, then read as zeros: refuse them.
    if (libewf_handle_segment_files_corrupted(handle_, nullptr) == 1)
      return Fail(why, "its segment files are corrupted or cut short");
    return true;
  }
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (offset >= size_) return 0;
    if (length > size_ - offset) length = static_cast<std::size_t>(size_ - offset);
    libewf_error_t* error = nullptr;
    ssize_t n = libewf_handle_read_random(handle_, buffer, length, static_cast<off64_t>(offset), &error);
    if (error) libewf_error_free(&error);
    return n < 0 ? -1 : n;
  }
  std::uint64_t SizeBytes() override { return size_; }
  std::string Path() const override { return path_; }
  std::string Container() const override { return "E01"; }

 private:
  static bool Fail(std::string* why, const std::string& cause) {
    if (why) *why = "damaged or incomplete E01 image: " + cause;
    return false;
  }
  std::string path_;
  libewf_handle_t* handle_ = nullptr;
  size64_t size_ = 0;
  std::mutex lock_;
};

class VhdiImage final : public BlockDevice {
 public:
  explicit VhdiImage(std::string path) : path_(std::move(path)) {}
  ~VhdiImage() override {
    if (file_) {
      libvhdi_file_close(file_, nullptr);
      libvhdi_file_free(&file_, nullptr);
    }
  }
  bool Open(std::string* why) {
    libvhdi_error_t* error = nullptr;
    int format = 0;
    std::uint32_t diskType = 0;
    bool ok = libvhdi_file_initialize(&file_, &error) == 1 &&
              libvhdi_file_open(file_, path_.c_str(), LIBVHDI_OPEN_READ, &error) == 1 &&
              libvhdi_file_get_media_size(file_, &size_, &error) == 1 &&
              libvhdi_file_get_file_type(file_, &format, &error) == 1 &&
              libvhdi_file_get_disk_type(file_, &diskType, &error) == 1;
    if (!ok) {
      if (why) *why = "damaged or incomplete VHD image: " + VhdiError(error);
      return false;
    }
    if (diskType == LIBVHDI_DISK_TYPE_DIFFERENTIAL) {
      if (why) *why = "differencing VHD image: open its parent image instead";
      return false;
    }
    container_ = format == LIBVHDI_FILE_TYPE_VHDX ? "VHDX" : "VHD";
    return true;
  }
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (offset >= size_) return 0;
    if (length > size_ - offset) length = static_cast<std::size_t>(size_ - offset);
    libvhdi_error_t* error = nullptr;
    ssize_t n = libvhdi_file_read_buffer_at_offset(file_, buffer, length, static_cast<off64_t>(offset), &error);
    if (error) libvhdi_error_free(&error);
    return n < 0 ? -1 : n;
  }
  std::uint64_t SizeBytes() override { return size_; }
  std::string Path() const override { return path_; }
  std::string Container() const override { return container_; }

 private:
  std::string path_;
  std::string container_ = "VHD";
  libvhdi_file_t* file_ = nullptr;
  size64_t size_ = 0;
  std::mutex lock_;
};

class VmdkImage final : public BlockDevice {
 public:
  explicit VmdkImage(std::string path) : path_(std::move(path)) {}
  ~VmdkImage() override {
    if (handle_) {
      libvmdk_handle_close(handle_, nullptr);
      libvmdk_handle_free(&handle_, nullptr);
    }
  }
  bool Open(std::string* why) {
    libvmdk_error_t* error = nullptr;
    bool ok = libvmdk_handle_initialize(&handle_, &error) == 1 &&
              libvmdk_handle_open(handle_, path_.c_str(), LIBVMDK_OPEN_READ, &error) == 1 &&
              libvmdk_handle_open_extent_data_files(handle_, &error) == 1 &&
              libvmdk_handle_get_media_size(handle_, &size_, &error) == 1;
    if (!ok && why) *why = "damaged or incomplete VMDK image: " + VmdkError(error);
    return ok;
  }
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (offset >= size_) return 0;
    if (length > size_ - offset) length = static_cast<std::size_t>(size_ - offset);
    libvmdk_error_t* error = nullptr;
    ssize_t n = libvmdk_handle_read_buffer_at_offset(handle_, buffer, length, static_cast<off64_t>(offset), &error);
    if (error) libvmdk_error_free(&error);
    return n < 0 ? -1 : n;
  }
  std::uint64_t SizeBytes() override { return size_; }
  std::string Path() const override { return path_; }
  std::string Container() const override { return "VMDK"; }

 private:
  std::string path_;
  libvmdk_handle_t* handle_ = nullptr;
  size64_t size_ = 0;
  std::mutex lock_;
};

template <typename Image>
std::shared_ptr<BlockDevice> OpenAs(const std::string& path, std::string* why) {
  auto image = std::make_shared<Image>(path);
  if (!image->Open(why)) return nullptr;
  if (image->SizeBytes() == 0) {
    if (why) *why = "the image holds no media";
    return nullptr;
  }
  // A container whose segments are cut short opens but cannot be read.
  char first[512];
  const std::size_t probe = image->SizeBytes() < sizeof first ? image->SizeBytes() : sizeof first;
  if (image->ReadAt(0, first, probe) != static_cast<std::int64_t>(probe)) {
    if (why) *why = "damaged or incomplete " + image->Container() + " image: its first sector cannot be read";
    return nullptr;
  }
  return image;
}

}  // namespace

ContainerKind DetectContainer(const std::string& path) {
  if (libewf_check_file_signature(path.c_str(), nullptr) == 1) return ContainerKind::kEwf;
  if (libvhdi_check_file_signature(path.c_str(), nullptr) == 1) return ContainerKind::kVhd;
  if (libvmdk_check_file_signature(path.c_str(), nullptr) == 1) return ContainerKind::kVmdk;
  return ContainerKind::kNone;
}

std::shared_ptr<BlockDevice> OpenContainerImage(const std::string& path, ContainerKind kind,
                                                std::string* why) {
  switch (kind) {
    case ContainerKind::kEwf: return OpenAs<EwfImage>(path, why);
    case ContainerKind::kVhd: return OpenAs<VhdiImage>(path, why);
    case ContainerKind::kVmdk: return OpenAs<VmdkImage>(path, why);
    case ContainerKind::kNone: break;
  }
  return nullptr;
}

}  // namespace ambrel
