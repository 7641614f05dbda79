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

namespace ambrel {

// The progress figures of a running scan, from the published sectors done
// and total, the elapsed seconds without pauses and the sectors done when
// the scan was prepared. `previousRemaining` carries the last estimate
// between calls (start at 0): an estimate that rises by less than 10 % is
// not shown. Empty when no time has passed.
std::string FormatProgress(std::uint64_t done, std::uint64_t total, std::uint64_t elapsed,
                           std::uint64_t baseline, std::uint64_t& previousRemaining);

}  // namespace ambrel
