// Result codes shared by the format walkers of the document, archive and
// media readers, and the size answer they give the carver.
#pragma once

#include <cstdint>

namespace ambrel {

// 4: the structure is complete (its size is known); 5: malformed or not
// recognised; 3: it runs past the end of the data (retry with more);
// 0: well formed but its size cannot be told from the headers, so the
// caller falls back to its gap size.
inline constexpr int kWalkUnknown = 0;
inline constexpr int kWalkNeedMore = 3;
inline constexpr int kWalkOk = 4;
inline constexpr int kWalkMalformed = 5;

struct SizeProbe {
  int result = kWalkMalformed;
  std::uint64_t size = 0;
  std::uint32_t typeCode = 0;  // 0 when the probe does not tell the type
};

}  // namespace ambrel
