// Paths of the source tree, the build tree and the shared corpus for tests.
#pragma once

#include <string>

namespace ambrel::test {

std::string SourceDir();              // the repository root
std::string BinaryDir();              // the build folder
std::string FixturePath(const std::string& name);   // fixtures/<name>
std::string CorpusDir();              // ../shared/corpus beside the checkout; empty when absent
std::string TempDir(const std::string& tag);        // a fresh empty folder for one test

}  // namespace ambrel::test
