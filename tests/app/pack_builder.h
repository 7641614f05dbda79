// Builds identity files and resource packs for tests, in a temporary folder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/resource_pack.h"

namespace ambrel::test {

using Bytes = std::vector<std::uint8_t>;

// UTF-8 lines to UTF-16LE with a byte-order mark and CR LF ends.
Bytes Utf16File(const std::vector<std::string>& lines, bool finalNewline = true);
// A ZIP archive of the entries (name, content).
Bytes MakeZip(const std::vector<std::pair<std::string, Bytes>>& entries);
// Writes Base.dat and a scrambled Recovery.dat into `folder`; returns the
// check values of the pack written.
PackCheck WritePack(const std::string& folder, const std::vector<std::string>& identityLines,
                    const std::vector<std::pair<std::string, Bytes>>& packEntries);
Bytes TextBytes(const std::string& text);

}  // namespace ambrel::test
