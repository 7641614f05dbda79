// Check marks set for a whole partition by a predicate (the command line's
// selection); the session catalogue's ToggleCheck serves the desktop.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "catalog/node_table.h"

namespace ambrel {

namespace detail {

// Returns {checked files, files} below `id` and sets the state of `id`.
template <typename Pred>
std::pair<std::uint64_t, std::uint64_t> MarkBelow(FoundFileTable& table, std::uint32_t id,
                                                  Pred& wanted, int depth) {
  FoundFileNode* n = NodeAt(table, id);
  if (n == nullptr) return {0, 0};
  if (IsFileKind(KindOf(*n))) {
    const bool on = wanted(*n);
    SetCheckState(*n, on ? 1 : 0);
    return {on ? 1 : 0, 1};
  }
  std::uint64_t checked = 0, files = 0;
  if (depth < 4096) {
    const std::vector<std::uint32_t> children(n->childIds, n->childIds + n->childCount);
    for (std::uint32_t child : children) {
      if (child == kRootId || child == id) continue;
      auto [c, f] = MarkBelow(table, child, wanted, depth + 1);
      checked += c;
      files += f;
    }
  }
  n = NodeAt(table, id);
  if (n != nullptr) SetCheckState(*n, checked == 0 ? 0 : (checked == files ? 1 : 2));
  return {checked, files};
}

}  // namespace detail

template <typename Pred>
std::uint64_t MarkFiles(FoundFileTable& table, std::uint32_t folderId, Pred wanted) {
  std::lock_guard<std::mutex> lock(table.guard);
  return detail::MarkBelow(table, folderId, wanted, 0).first;
}

}  // namespace ambrel
