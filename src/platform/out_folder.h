// A target folder of a copy: made when missing, and checked before any
// volume is parsed so that the problem is named at once.
#pragma once

#include <string>

namespace ambrel {

// The folder itself when it exists, else its nearest existing parent: the
// file system a missing folder would be created on.
std::string ExistingFolderOrParent(const std::string& folder);

enum class OutFolderProblem { kNone, kNotAFolder, kPermissionDenied, kReadOnly, kOther };
struct OutFolderResult {
  OutFolderProblem problem = OutFolderProblem::kNone;
  std::string systemText;  // the system's words for kOther
};
// Creates the folder with its parents when missing and checks that files
// can be created in it.
OutFolderResult PrepareOutFolder(const std::string& folder);

}  // namespace ambrel
