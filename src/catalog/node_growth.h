// Growth of node arrays, shared by FoundFileNode and ClassNode tables.
//
// Steps: a request for slot a beyond the array grows it to a + 1 records
// when that is 1024 or more past the capacity, else by 1024; a request for
// the next free slot grows an empty array to 1024 records, then by half
// while below 102400, then by 51200. The result is clamped to the table's
// bound. The new array is published with release order after the used
// records are copied; the old one is released late.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "catalog/node_memory.h"

namespace ambrel {

inline std::uint64_t GrownCapacity(std::uint32_t capacity, std::uint32_t slot, bool explicitSlot) {
  if (explicitSlot) {
    if (std::uint64_t(slot) - capacity >= 1024) return std::uint64_t(slot) + 1;
    return std::uint64_t(capacity) + 1024;
  }
  if (capacity == 0) return 1024;
  if (capacity < 102400) return std::uint64_t(capacity) + capacity / 2;
  return std::uint64_t(capacity) + 51200;
}

// Makes room for `slot`; false (table unchanged) when the bound or memory
// forbids it.
template <class Node>
bool EnsureNodeSlot(std::atomic<Node*>& nodes, std::uint32_t& capacity, std::uint32_t count,
                    std::uint32_t slot, bool explicitSlot, std::uint32_t bound) {
  Node* old = nodes.load(std::memory_order_relaxed);
  if (old && slot < capacity) return true;
  if (slot >= bound) return false;
  const std::uint32_t oldCapacity = old ? capacity : 0;
  std::uint64_t grown = GrownCapacity(oldCapacity, slot, explicitSlot);
  if (grown > bound) grown = bound;
  if (grown <= slot) grown = std::uint64_t(slot) + 1;
  auto* fresh = static_cast<Node*>(AllocNodeArray(grown, sizeof(Node)));
  if (!fresh) return false;
  const std::uint32_t keep = count < oldCapacity ? count : oldCapacity;
  if (old && keep) std::memcpy(static_cast<void*>(fresh), old, std::size_t(keep) * sizeof(Node));
  nodes.store(fresh, std::memory_order_release);
  capacity = static_cast<std::uint32_t>(grown);
  DeferNodeArray(old, oldCapacity);
  return true;
}

// Reallocates the array to exactly `records` records (records >= count).
template <class Node>
bool ResizeNodeArray(std::atomic<Node*>& nodes, std::uint32_t& capacity, std::uint32_t count,
                     std::uint32_t records) {
  if (records == 0 || records < count) return false;
  Node* old = nodes.load(std::memory_order_relaxed);
  const std::uint32_t oldCapacity = old ? capacity : 0;
  auto* fresh = static_cast<Node*>(AllocNodeArray(records, sizeof(Node)));
  if (!fresh) return false;
  if (old && count) std::memcpy(static_cast<void*>(fresh), old, std::size_t(count) * sizeof(Node));
  nodes.store(fresh, std::memory_order_release);
  capacity = records;
  DeferNodeArray(old, oldCapacity);
  return true;
}

}  // namespace ambrel
