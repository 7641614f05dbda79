#include "platform/container_image.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <libewf.h>
#include <libvhdi.h>
#include <libvmdk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace ambrel {
namespace {

// The container libraries are loaded on first need, not with the program:
// most sources are plain images or devices, and loading the three (with
// the libraries they bring) took every run a few milliseconds.
#define AMBREL_EWF_FUNCTIONS(X)                                                                             \
  X(libewf_error_sprint) X(libewf_error_free) X(libewf_check_file_signature) X(libewf_glob) X(libewf_glob_free) \
  X(libewf_handle_initialize) X(libewf_handle_open) X(libewf_handle_get_media_size)                        \
  X(libewf_handle_segment_files_corrupted) X(libewf_handle_read_random) X(libewf_handle_close)              \
  X(libewf_handle_free)
#define AMBREL_VHDI_FUNCTIONS(X)                                                                      \
  X(libvhdi_error_sprint) X(libvhdi_error_free) X(libvhdi_check_file_signature) X(libvhdi_file_initialize) \
  X(libvhdi_file_open) X(libvhdi_file_get_media_size) X(libvhdi_file_get_file_type)                     \
  X(libvhdi_file_get_disk_type) X(libvhdi_file_read_buffer_at_offset) X(libvhdi_file_close) X(libvhdi_file_free)
#define AMBREL_VMDK_FUNCTIONS(X)                                                                        \
  X(libvmdk_error_sprint) X(libvmdk_error_free) X(libvmdk_check_file_signature) X(libvmdk_handle_initialize) \
  X(libvmdk_handle_open) X(libvmdk_handle_open_extent_data_files) X(libvmdk_handle_get_media_size)        \
  X(libvmdk_handle_read_buffer_at_offset) X(libvmdk_handle_close) X(libvmdk_handle_free)

#define AMBREL_POINTER(name) decltype(&::name) name = nullptr;
struct EwfApi {
  AMBREL_EWF_FUNCTIONS(AMBREL_POINTER)
};
struct VhdiApi {
  AMBREL_VHDI_FUNCTIONS(AMBREL_POINTER)
};
struct VmdkApi {
  AMBREL_VMDK_FUNCTIONS(AMBREL_POINTER)
};
#undef AMBREL_POINTER

struct ContainerLibraries {
  bool ewfLoaded = false, vhdiLoaded = false, vmdkLoaded = false;
  EwfApi ewf;
  VhdiApi vhdi;
  VmdkApi vmdk;
};

// Loads the library and looks up its functions: false unless every one was
// found.
template <typename Api>
bool Resolve(const char* file, Api& api, void (*bind)(void*, Api&), bool (*complete)(const Api&)) {
  void* library = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
  bind(library, api);
  return complete(api);
}

#define AMBREL_BIND(name) api.name = reinterpret_cast<decltype(api.name)>(::dlsym(library, #name));
#define AMBREL_FOUND(name) &&api.name != nullptr

const ContainerLibraries& Libraries() {
  static ContainerLibraries libraries;
  static std::once_flag once;
  std::call_once(once, [] {
    // Never unloaded: their handles live as long as the devices opened.
    libraries.ewfLoaded = Resolve<EwfApi>(
        AMBREL_LIBEWF_SONAME, libraries.ewf, [](void* library, EwfApi& api) { AMBREL_EWF_FUNCTIONS(AMBREL_BIND) },
        [](const EwfApi& api) { return true AMBREL_EWF_FUNCTIONS(AMBREL_FOUND); });
    libraries.vhdiLoaded = Resolve<VhdiApi>(
        AMBREL_LIBVHDI_SONAME, libraries.vhdi,
        [](void* library, VhdiApi& api) { AMBREL_VHDI_FUNCTIONS(AMBREL_BIND) },
        [](const VhdiApi& api) { return true AMBREL_VHDI_FUNCTIONS(AMBREL_FOUND); });
    libraries.vmdkLoaded = Resolve<VmdkApi>(
        AMBREL_LIBVMDK_SONAME, libraries.vmdk,
        [](void* library, VmdkApi& api) { AMBREL_VMDK_FUNCTIONS(AMBREL_BIND) },
        [](const VmdkApi& api) { return true AMBREL_VMDK_FUNCTIONS(AMBREL_FOUND); });
  });
  return libraries;
}

#undef AMBREL_BIND
#undef AMBREL_FOUND

const EwfApi& Ewf() { return Libraries().ewf; }
const VhdiApi& Vhdi() { return Libraries().vhdi; }
const VmdkApi& Vmdk() { return Libraries().vmdk; }

// Each library has its own error type with the same shape of API.
template <typename Error, typename Sprint, typename Release>
std::string TakeError(Error*& error, Sprint sprint, Release release) {
  if (!error) return "unknown error";
  char text[512] = {};
  sprint(error, text, sizeof text);
  release(&error);
  error = nullptr;
  std::string s(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  const std::size_t lastLine = s.rfind('\n');  // the innermost cause comes last
  return lastLine == std::string::npos ? s : s.substr(lastLine + 1);
}

std::string EwfError(libewf_error_t*& e) { return TakeError(e, Ewf().libewf_error_sprint, Ewf().libewf_error_free); }
std::string VhdiError(libvhdi_error_t*& e) {
  return TakeError(e, Vhdi().libvhdi_error_sprint, Vhdi().libvhdi_error_free);
}
std::string VmdkError(libvmdk_error_t*& e) {
  return TakeError(e, Vmdk().libvmdk_error_sprint, Vmdk().libvmdk_error_free);
}

class EwfImage final : public BlockDevice {
 public:
  explicit EwfImage(std::string path) : path_(std::move(path)) {}
  ~EwfImage() override {
    if (handle_) {
      Ewf().libewf_handle_close(handle_, nullptr);
      Ewf().libewf_handle_free(&handle_, nullptr);
    }
  }
  bool Open(std::string* why) {
    libewf_error_t* error = nullptr;
    char** names = nullptr;
    int count = 0;
    if (Ewf().libewf_glob(path_.c_str(), path_.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1)
      return Fail(why, EwfError(error));
    bool ok = Ewf().libewf_handle_initialize(&handle_, &error) == 1 &&
              Ewf().libewf_handle_open(handle_, names, count, LIBEWF_OPEN_READ, &error) == 1 &&
              Ewf().libewf_handle_get_media_size(handle_, &size_, &error) == 1;
    Ewf().libewf_glob_free(names, count, nullptr);
    if (!ok) return Fail(why, EwfError(error));
    // Cut or damaged segments open, then read as zeros: refuse them.
    if (Ewf().libewf_handle_segment_files_corrupted(handle_, nullptr) == 1)
      return Fail(why, "its segment files are corrupted or cut short");
    return true;
  }
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (offset >= size_) return 0;
    if (length > size_ - offset) length = static_cast<std::size_t>(size_ - offset);
    libewf_error_t* error = nullptr;
    ssize_t n = Ewf().libewf_handle_read_random(handle_, buffer, length, static_cast<off64_t>(offset), &error);
    if (error) Ewf().libewf_error_free(&error);
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
      Vhdi().libvhdi_file_close(file_, nullptr);
      Vhdi().libvhdi_file_free(&file_, nullptr);
    }
  }
  bool Open(std::string* why) {
    libvhdi_error_t* error = nullptr;
    int format = 0;
    std::uint32_t diskType = 0;
    bool ok = Vhdi().libvhdi_file_initialize(&file_, &error) == 1 &&
              Vhdi().libvhdi_file_open(file_, path_.c_str(), LIBVHDI_OPEN_READ, &error) == 1 &&
              Vhdi().libvhdi_file_get_media_size(file_, &size_, &error) == 1 &&
              Vhdi().libvhdi_file_get_file_type(file_, &format, &error) == 1 &&
              Vhdi().libvhdi_file_get_disk_type(file_, &diskType, &error) == 1;
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
    ssize_t n = Vhdi().libvhdi_file_read_buffer_at_offset(file_, buffer, length, static_cast<off64_t>(offset), &error);
    if (error) Vhdi().libvhdi_error_free(&error);
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
      Vmdk().libvmdk_handle_close(handle_, nullptr);
      Vmdk().libvmdk_handle_free(&handle_, nullptr);
    }
  }
  bool Open(std::string* why) {
    libvmdk_error_t* error = nullptr;
    bool ok = Vmdk().libvmdk_handle_initialize(&handle_, &error) == 1 &&
              Vmdk().libvmdk_handle_open(handle_, path_.c_str(), LIBVMDK_OPEN_READ, &error) == 1 &&
              Vmdk().libvmdk_handle_open_extent_data_files(handle_, &error) == 1 &&
              Vmdk().libvmdk_handle_get_media_size(handle_, &size_, &error) == 1;
    if (!ok && why) *why = "damaged or incomplete VMDK image: " + VmdkError(error);
    return ok;
  }
  std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (offset >= size_) return 0;
    if (length > size_ - offset) length = static_cast<std::size_t>(size_ - offset);
    libvmdk_error_t* error = nullptr;
    ssize_t n = Vmdk().libvmdk_handle_read_buffer_at_offset(handle_, buffer, length, static_cast<off64_t>(offset), &error);
    if (error) Vmdk().libvmdk_error_free(&error);
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

// A regular file that is surely a plain image: its first sector carries
// the boot signature of a partition table or boot sector, it starts with
// none of the containers' signatures (EWF "EVF"/"LVF"/"LEF", VHDX
// "vhdxfile", VMDK "KDMV"/"COWD" or a "#" descriptor), and it ends without
// the VHD footer "conectix" (a fixed VHD is a plain disk with that footer
// after it). Anything else is left to the libraries' own checks.
bool SurelyPlainImage(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  unsigned char first[512], last[512];
  bool plain = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 1024 &&
               ::pread(fd, first, sizeof first, 0) == static_cast<ssize_t>(sizeof first) &&
               ::pread(fd, last, sizeof last, st.st_size - 512) == static_cast<ssize_t>(sizeof last);
  ::close(fd);
  if (!plain || first[510] != 0x55 || first[511] != 0xAA) return false;
  for (const char* signature : {"EVF", "LVF", "LEF", "vhdxfile", "KDMV", "COWD", "#"})
    if (std::memcmp(first, signature, std::strlen(signature)) == 0) return false;
  // The footer of 512 bytes, or of 511 in images made by old tools.
  return std::memcmp(last, "conectix", 8) != 0 && std::memcmp(last + 1, "conectix", 8) != 0;
}

}  // namespace

ContainerKind DetectContainer(const std::string& path) {
  if (SurelyPlainImage(path)) return ContainerKind::kNone;
  const ContainerLibraries& libraries = Libraries();
  if (libraries.ewfLoaded && libraries.ewf.libewf_check_file_signature(path.c_str(), nullptr) == 1)
    return ContainerKind::kEwf;
  if (libraries.vhdiLoaded && libraries.vhdi.libvhdi_check_file_signature(path.c_str(), nullptr) == 1)
    return ContainerKind::kVhd;
  if (libraries.vmdkLoaded && libraries.vmdk.libvmdk_check_file_signature(path.c_str(), nullptr) == 1)
    return ContainerKind::kVmdk;
  return ContainerKind::kNone;
}

std::shared_ptr<BlockDevice> OpenContainerImage(const std::string& path, ContainerKind kind,
                                                std::string* why) {
  const ContainerLibraries& libraries = Libraries();
  auto missing = [why](const char* format, const char* library) -> std::shared_ptr<BlockDevice> {
    if (why) *why = std::string(format) + " images cannot be read: " + library + " is not installed";
    return nullptr;
  };
  switch (kind) {
    case ContainerKind::kEwf:
      return libraries.ewfLoaded ? OpenAs<EwfImage>(path, why) : missing("E01", "libewf");
    case ContainerKind::kVhd:
      return libraries.vhdiLoaded ? OpenAs<VhdiImage>(path, why) : missing("VHD", "libvhdi");
    case ContainerKind::kVmdk:
      return libraries.vmdkLoaded ? OpenAs<VmdkImage>(path, why) : missing("VMDK", "libvmdk");
    case ContainerKind::kNone: break;
  }
  return nullptr;
}

}  // namespace ambrel
