// The --out folder of recover: made when missing, and checked before any
// volume is parsed so that the problem is named at once.
#pragma once

#include <string>

namespace ambrel::cli {

// The folder itself when it exists, else its nearest existing parent: the
// file system a missing folder would be created on.
std::string ExistingFolderOrParent(const std::string& folder);

// Creates the folder with its parents when missing and checks that files
// can be created in it. Empty on success, else the problem: "not a folder",
// "permission denied", "read-only file system" or the system's text.
std::string PrepareOutFolder(const std::string& folder);

}  // namespace ambrel::cli
