// Child-id lists of tree nodes. FoundFileNode and ClassNode share the layout
// of their first five fields (id, parentId, childCapacity, childCount,
// childIds), so one set of helpers serves both. Lists live on the general
// heap (std::malloc family) and are owned by their node.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace ambrel {

inline constexpr std::uint32_t kFirstChildCapacity = 8;

// Appends `child`; the first append makes room for 8 ids, a full list grows
// by half (rounded down). False when memory runs out (the list is unchanged).
template <class Node>
bool AppendChild(Node& parent, std::uint32_t child) {
  std::uint32_t* ids = parent.childIds;
  std::uint32_t capacity = ids ? parent.childCapacity : 0;
  std::uint32_t used = ids ? parent.childCount : 0;
  if (used > capacity) used = capacity;
  if (used == capacity) {
    std::uint64_t grown = capacity < kFirstChildCapacity ? kFirstChildCapacity
                                                         : std::uint64_t(capacity) + capacity / 2;
    if (grown > 0x3FFFFFFF) grown = 0x3FFFFFFF;
    if (grown <= used) return false;
    void* p = std::realloc(ids, grown * sizeof(std::uint32_t));
    if (!p) return false;
    ids = static_cast<std::uint32_t*>(p);
    capacity = static_cast<std::uint32_t>(grown);
    parent.childIds = ids;
    parent.childCapacity = capacity;
  }
  ids[used] = child;
  parent.childCount = used + 1;
  return true;
}

// Gives `parent` an empty list with room for exactly `capacity` ids.
template <class Node>
bool ReserveChildren(Node& parent, std::uint32_t capacity) {
  std::free(parent.childIds);
  parent.childIds = nullptr;
  parent.childCount = 0;
  parent.childCapacity = 0;
  if (capacity == 0) return true;
  auto* p = static_cast<std::uint32_t*>(std::malloc(std::uint64_t(capacity) * sizeof(std::uint32_t)));
  if (!p) return false;
  parent.childIds = p;
  parent.childCapacity = capacity;
  return true;
}

template <class Node>
void FreeChildren(Node& node) {
  std::free(node.childIds);
  node.childIds = nullptr;
  node.childCount = 0;
  node.childCapacity = 0;
}

// Number of usable ids of a list (0 when it has no storage).
template <class Node>
std::uint32_t ChildCountOf(const Node& node) {
  if (!node.childIds) return 0;
  const std::uint32_t n = node.childCount;
  const std::uint32_t cap = node.childCapacity;
  return n < cap ? n : cap;
}

}  // namespace ambrel
