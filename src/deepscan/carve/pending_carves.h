// The size rules that wait for a later chunk, ordered by the first sector
// of the bytes they want.
#pragma once

#include <cstdint>
#include <vector>

#include "deepscan/carve/carve_state.h"

namespace ambrel {

// A window may span at most this many sectors.
inline constexpr std::uint64_t kMaxPendingWindowSectors = 0x1C000;
// More waiting rules than this are not kept (their files get gap sizes).
inline constexpr std::size_t kMaxPendingCarves = 0x10000;

class PendingCarves {
 public:
  // Registers the state when its window lies within one 2^32-sector half
  // and spans at most 0x1C000 sectors; inserted before the first entry
  // whose window starts later. False when it is not kept.
  bool AddPending(const CarveState& state);
  bool Overlaps(std::uint64_t first, std::uint64_t last) const;
  // Takes out the entries whose window overlaps [first, last].
  std::vector<CarveState> TakeOverlapping(std::uint64_t first, std::uint64_t last);
  std::vector<CarveState> TakeAll();
  std::size_t Size() const { return list_.size(); }
  const std::vector<CarveState>& Entries() const { return list_; }
  void Clear() { list_.clear(); }

 private:
  std::vector<CarveState> list_;
};

}  // namespace ambrel
