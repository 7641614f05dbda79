#include "catalog/class_table.h"

#include <cstdlib>
#include <cstring>

#include "catalog/child_list.h"
#include "catalog/node_growth.h"

namespace ambrel {

ClassTable::~ClassTable() { FreeClassTable(*this); }

bool IsClassLive(const ClassTable& table, std::uint32_t id) {
  const ClassNode* nodes = table.nodes.load(std::memory_order_acquire);
  return nodes && id != 0 && id < table.count && nodes[id].id == id;
}

ClassNode* ClassNodeAt(ClassTable& table, std::uint32_t id) {
  return IsClassLive(table, id) ? &table.nodes.load(std::memory_order_acquire)[id] : nullptr;
}

const ClassNode* ClassNodeAt(const ClassTable& table, std::uint32_t id) {
  return IsClassLive(table, id) ? &table.nodes.load(std::memory_order_acquire)[id] : nullptr;
}

std::uint32_t AddClassNode(ClassTable& table, const ClassNode& node, bool link) {
  const bool nextSlot = node.id == 0;
  const std::uint32_t slot = nextSlot ? table.count : node.id;
  if (slot == 0 || slot >= kMaxClassRecords) return 0;
  if (!EnsureNodeSlot(table.nodes, table.capacity, table.count, slot, !nextSlot, kMaxClassRecords))
    return 0;
  ClassNode* nodes = table.nodes.load(std::memory_order_relaxed);
  if (IsClassLive(table, slot)) FreeChildren(nodes[slot]);
  std::memcpy(static_cast<void*>(&nodes[slot]), &node, sizeof node);
  nodes[slot].id = slot;
  nodes[slot].reserved = 0;
  if (slot >= table.count) table.count = slot + 1;
  const std::uint32_t parent = node.parentId;
  if (link && parent != slot && IsClassLive(table, parent)) AppendChild(nodes[parent], slot);
  return slot;
}

bool PresetClassCount(ClassTable& table, std::uint32_t records, bool allocate) {
  if (records > kMaxClassRecords) return false;
  if (allocate && records > table.capacity &&
      !ResizeNodeArray(table.nodes, table.capacity, table.count, records))
    return false;
  if (records > table.count) table.count = records;
  return true;
}

void FreeClassTable(ClassTable& table) {
  ClassNode* nodes = table.nodes.exchange(nullptr, std::memory_order_acq_rel);
  if (nodes) {
    const std::uint32_t used = table.count < table.capacity ? table.count : table.capacity;
    for (std::uint32_t i = 0; i < used; ++i) FreeChildren(nodes[i]);
    DeferNodeArray(nodes, table.capacity);
  }
  table.capacity = 0;
  table.count = 0;
  table.fileCount = 0;
}

}  // namespace ambrel
