#include "deepscan/carve/pending_carves.h"

#include <algorithm>

namespace ambrel {

bool PendingCarves::AddPending(const CarveState& state) {
  if (state.windowLast < state.windowFirst) return false;
  if ((state.windowFirst >> 32) != (state.windowLast >> 32)) return false;
  if (state.windowLast - state.windowFirst > kMaxPendingWindowSectors) return false;
  if (list_.size() >= kMaxPendingCarves) return false;
  auto later = std::find_if(list_.begin(), list_.end(), [&](const CarveState& e) {
    return e.windowFirst > state.windowFirst;
  });
  list_.insert(later, state);
  return true;
}

bool PendingCarves::Overlaps(std::uint64_t first, std::uint64_t last) const {
  for (const CarveState& e : list_) {
    if (e.windowFirst > last) break;
    if (e.windowLast >= first) return true;
  }
  return false;
}

std::vector<CarveState> PendingCarves::TakeOverlapping(std::uint64_t first, std::uint64_t last) {
  std::vector<CarveState> taken;
  std::vector<CarveState> kept;
  kept.reserve(list_.size());
  for (CarveState& e : list_) {
    if (e.windowFirst <= last && e.windowLast >= first) taken.push_back(e);
    else kept.push_back(e);
  }
  list_.swap(kept);
  return taken;
}

std::vector<CarveState> PendingCarves::TakeAll() {
  std::vector<CarveState> taken;
  taken.swap(list_);
  return taken;
}

}  // namespace ambrel
