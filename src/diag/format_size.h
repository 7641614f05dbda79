// Size texts for messages and logs: "%0.2f KB", "MB", "GB" or "TB".
#pragma once

#include <cstdint>
#include <string>

namespace ambrel {

std::string FormatSize(std::uint64_t bytes);

}  // namespace ambrel
