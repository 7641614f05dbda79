#include "platform/out_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace ambrel {

namespace {

namespace fs = std::filesystem;

OutFolderResult ProblemOf(const std::error_code& error) {
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted)
    return {OutFolderProblem::kPermissionDenied, {}};
  if (error == std::errc::not_a_directory || error == std::errc::file_exists) return {OutFolderProblem::kNotAFolder, {}};
  if (error == std::errc::read_only_file_system) return {OutFolderProblem::kReadOnly, {}};
  return {OutFolderProblem::kOther, error.message()};
}

}  // namespace

std::string ExistingFolderOrParent(const std::string& folder) {
  fs::path path = fs::absolute(fs::path(folder)).lexically_normal();
  std::error_code error;
  while (!fs::exists(path, error) && path.has_relative_path()) path = path.parent_path();
  return path.string();
}

OutFolderResult PrepareOutFolder(const std::string& folder) {
  std::error_code error;
  const fs::file_status status = fs::status(folder, error);
  if (fs::exists(status) && !fs::is_directory(status)) return {OutFolderProblem::kNotAFolder, {}};
  if (!fs::exists(status)) {
    fs::create_directories(folder, error);
    if (error) return ProblemOf(error);
  }
  // The effective user must be able to create entries there.
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return ProblemOf(std::error_code(errno, std::generic_category()));
  return {};
}

}  // namespace ambrel
