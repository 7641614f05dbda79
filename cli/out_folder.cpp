#include "out_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace ambrel::cli {

namespace {

namespace fs = std::filesystem;

std::string ProblemText(const std::error_code& error) {
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted)
    return "permission denied";
  if (error == std::errc::not_a_directory || error == std::errc::file_exists) return "not a folder";
  if (error == std::errc::read_only_file_system) return "read-only file system";
  return error.message();
}

}  // namespace

std::string ExistingFolderOrParent(const std::string& folder) {
  fs::path path = fs::absolute(fs::path(folder)).lexically_normal();
  std::error_code error;
  while (!fs::exists(path, error) && path.has_relative_path()) path = path.parent_path();
  return path.string();
}

std::string PrepareOutFolder(const std::string& folder) {
  std::error_code error;
  const fs::file_status status = fs::status(folder, error);
  if (fs::exists(status) && !fs::is_directory(status)) return "not a folder";
  if (!fs::exists(status)) {
    fs::create_directories(folder, error);
    if (error) return ProblemText(error);
  }
  // The effective user must be able to create entries there.
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return ProblemText(std::error_code(errno, std::generic_category()));
  return {};
}

}  // namespace ambrel::cli
