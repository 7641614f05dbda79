// Opens a file, folder, link or program with the desktop's opener
// (xdg-open), as the shell verb "open" did. Does not wait for it.
// Any thread.
#pragma once

#include <string>

namespace ambrel {

// False when the opener could not be started.
bool OpenWithDesktop(const std::string& target);

}  // namespace ambrel
