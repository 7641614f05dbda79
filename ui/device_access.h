// What the device selection words and checks itself: the message of an
// image that cannot be taken, and why the machine's disks could not be read.
//
// Threads: PermissionProblem looks at device nodes only, it never reads a
// device.
#pragma once

#include <cstdint>
#include <string>

#include "session/program.h"

namespace ambrel::ui {

const char* ImageCheckMessage(ImageCheck check);

// A text that says that the block devices exist but cannot be opened by
// this user, and how to fix it; empty when that is not the problem.
std::string PermissionProblem();

}  // namespace ambrel::ui
