// Check marks (tri-state, propagated down to visible descendants and up to
// the ancestors), renaming, thumbnail marks, navigation and view modes.
#include <vector>

#include "catalog/child_list.h"
#include "catalog/found_file_catalog.h"

namespace ambrel {
namespace {

constexpr unsigned kUnchecked = 0;
constexpr unsigned kChecked = 1;
constexpr unsigned kPartly = 2;

// The rule for a folder from the states of its visible children.
class StateTally {
 public:
  void Add(unsigned state) {
    any_ = true;
    if (state == kPartly) partly_ = true;
    else if (state == kUnchecked) unchecked_ = true;
    else checked_ = true;
  }
  unsigned Result() const {
    if (!any_) return kUnchecked;
    if (partly_) return kPartly;
    if (!checked_) return kUnchecked;
    return unchecked_ ? kPartly : kChecked;
  }

 private:
  bool any_ = false, partly_ = false, unchecked_ = false, checked_ = false;
};

}  // namespace

unsigned FoundFileCatalog::StateAt(std::uint32_t row, std::uint32_t col) const {
  Ref ref;
  if (!ResolveRef(row, col, ref)) return 0;
  const FoundFileTable& table = slots_[ref.slot]->table;
  std::lock_guard<std::mutex> hold(table.guard);
  const FoundFileNode* n = NodeAt(table, ref.id);
  return n ? CheckStateOf(*n) : 0;
}

void FoundFileCatalog::SetStateAt(std::uint32_t row, std::uint32_t col, unsigned state) {
  Ref ref;
  if (!ResolveRef(row, col, ref)) return;
  FoundFileTable& table = slots_[ref.slot]->table;
  std::lock_guard<std::mutex> hold(table.guard);
  if (FoundFileNode* n = NodeAt(table, ref.id)) SetCheckState(*n, state);
}

unsigned FoundFileCatalog::FolderStateFromChildren(std::uint32_t row, std::uint32_t col) const {
  StateTally tally;
  for (std::uint32_t c : RawChildren(row, col)) {
    if (c == kRootId || !Visible(row, c)) continue;
    tally.Add(StateAt(row, c));
  }
  return tally.Result();
}

void FoundFileCatalog::SetStateBelow(std::uint32_t row, std::uint32_t col, unsigned state) {
  std::vector<std::uint32_t> stack{col};
  std::size_t visits = 0;
  while (!stack.empty() && visits++ <= kMaxClassRecords) {
    const std::uint32_t x = stack.back();
    stack.pop_back();
    SetStateAt(row, x, state);
    for (std::uint32_t c : RawChildren(row, x))
      if (c != kRootId && c != x && Visible(row, c)) stack.push_back(c);
  }
}

void FoundFileCatalog::UpdateAncestors(std::uint32_t row, std::uint32_t col) {
  std::uint32_t x = col;
  for (std::uint32_t steps = 0; x != kRootId && steps <= kMaxClassRecords; ++steps) {
    x = ParentIn(row, x);
    if (!x || !Visible(row, x)) return;
    const unsigned state = FolderStateFromChildren(row, x);
    if (state == StateAt(row, x)) return;
    SetStateAt(row, x, state);
  }
}

unsigned FoundFileCatalog::GetCheck(std::uint32_t row, std::uint32_t col) const {
  std::shared_lock<std::shared_mutex> hold(slotsLock_);
  return Visible(row, col) ? StateAt(row, col) : 0;
}

bool FoundFileCatalog::ToggleCheck(std::uint32_t row, std::uint32_t col, NoticeListener* sender) {
  {
    std::shared_lock<std::shared_mutex> hold(slotsLock_);
    if (!Visible(row, col)) return false;
    const unsigned old = StateAt(row, col);
    const unsigned state = (old == kUnchecked || old == kPartly) ? kChecked : kUnchecked;
    SetStateBelow(row, col, state);
    UpdateAncestors(row, col);
  }
  Broadcast(sender, kNoticeCheckChanged, row, col);
  return true;
}

void FoundFileCatalog::RecomputeTreeChecks(std::uint32_t row) {
  if (!Visible(row, kRootId)) return;
  std::vector<std::uint32_t> order;
  std::vector<std::uint32_t> stack{kRootId};
  while (!stack.empty() && order.size() <= kMaxClassRecords) {
    const std::uint32_t x = stack.back();
    stack.pop_back();
    order.push_back(x);
    for (std::uint32_t c : RawChildren(row, x))
      if (c != kRootId && c != x && Visible(row, c)) stack.push_back(c);
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it)
    if (IsFolderAt(row, *it)) SetStateAt(row, *it, FolderStateFromChildren(row, *it));
}

void FoundFileCatalog::RecomputeChecks(ViewMode mode) {
  if (IsClassView(mode)) {
    RecomputeTreeChecks(kClassRow + static_cast<std::uint32_t>(ViewNumber(mode)));
    return;
  }
  for (std::uint32_t s = kSignatureSlot; s < partitionCount(); ++s) RecomputeTreeChecks(s);
}

bool FoundFileCatalog::Rename(std::uint32_t row, std::uint32_t col, std::string_view text,
                              NoticeListener* sender) {
  {
    std::shared_lock<std::shared_mutex> hold(slotsLock_);
    Ref ref;
    if (!ResolveRef(row, col, ref) || !VisibleRef(ref)) return false;
    if (!RenameNode(slots_[ref.slot]->table, ref.id, text)) return false;
  }
  Broadcast(sender, kNoticeRenamed, row, col);
  return true;
}

bool FoundFileCatalog::SetMark(std::uint32_t row, std::uint32_t col, unsigned mark) {
  {
    std::shared_lock<std::shared_mutex> hold(slotsLock_);
    Ref ref;
    if (!ResolveRef(row, col, ref) || !VisibleRef(ref)) return false;
    FoundFileTable& table = slots_[ref.slot]->table;
    std::lock_guard<std::mutex> guard(table.guard);
    FoundFileNode* n = NodeAt(table, ref.id);
    if (!n) return false;
    n->flags = static_cast<std::uint16_t>((n->flags & ~kFlagMarkMask) | ((mark & 3u) << 7));
  }
  if ((mark & 3u) == 3) PostMark(row, col);
  return true;
}

bool FoundFileCatalog::Navigate(std::uint32_t row, std::uint32_t col, NoticeListener* sender) {
  {
    std::shared_lock<std::shared_mutex> hold(slotsLock_);
    if (!Visible(row, col) || !IsFolderAt(row, col)) return false;
  }
  Broadcast(sender, kNoticeNavigate, row, col);
  return true;
}

bool FoundFileCatalog::EnterFilterView(NoticeListener* sender) {
  std::uint32_t first = 0;
  {
    std::shared_lock<std::shared_mutex> hold(slotsLock_);
    const ViewMode previous = viewMode_.exchange(ViewMode::kFilter, std::memory_order_acq_rel);
    for (std::uint32_t s = kFirstPartitionSlot; s < partitionCount() && !first; ++s)
      if (Visible(s, kRootId)) first = s;
    if (!first) {
      viewMode_.store(previous, std::memory_order_release);
      return false;
    }
    RecomputeChecks(ViewMode::kFilter);
  }
  Broadcast(sender, kNoticeFilterApplied, first, 0);
  return true;
}

bool FoundFileCatalog::SetViewMode(ViewMode mode, NoticeListener* sender) {
  if (mode < ViewMode::kDirectory || mode > ViewMode::kByModified) return false;  // not one of the five
  if (mode == ViewMode::kFilter) return EnterFilterView(sender);
  {
    std::shared_lock<std::shared_mutex> hold(slotsLock_);
    viewMode_.store(mode, std::memory_order_release);
    RecomputeChecks(mode);
  }
  Broadcast(sender, kNoticeViewMode, static_cast<std::uint64_t>(static_cast<std::int64_t>(ViewNumber(mode))), 0);
  return true;
}

}  // namespace ambrel
