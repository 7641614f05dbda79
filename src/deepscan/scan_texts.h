// Texts the deep scan shows: the read-error summary. Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ambrel {

// The summary after the area was read: none unless failed > 10 and
// failed <= reads; MB wording up to 2000 MB (one chunk is 8 MiB), GB above;
// the removable-device advice appended for USB disks and cards.
std::optional<std::string> ReadErrorSummaryText(std::uint32_t failed, std::uint32_t reads,
                                                bool removable);

}  // namespace ambrel
