#include "diag/format_size.h"

#include "common/text.h"

namespace ambrel {

// Below 1 MiB in KB, below 1 GiB in MB (the first division in whole
// numbers), from 1 TiB on in TB, otherwise in GB.
std::string FormatSize(std::uint64_t bytes) {
  if (bytes < 0x100000ull) return Format("%0.2f KB", static_cast<double>(bytes) / 1024.0);
  if (bytes < 0x40000000ull)
    return Format("%0.2f MB", static_cast<double>(bytes / 1024) / 1024.0);
  if (bytes >= (1ull << 40))
    return Format("%0.2f TB", static_cast<double>(bytes >> 30) / 1024.0);
  return Format("%0.2f GB", static_cast<double>(bytes >> 20) / 1024.0);
}

}  // namespace ambrel
