#include "catalog/node_reserve.h"

#include "catalog/node_growth.h"

namespace ambrel {

bool ReserveNodes(FoundFileTable& table, std::uint32_t records) {
  if (records > kMaxNodeRecords) records = kMaxNodeRecords;
  if (records == 0) return true;
  std::lock_guard<std::mutex> hold(table.guard);
  if (table.nodes.load(std::memory_order_relaxed) && records <= table.capacity) return true;
  return ResizeNodeArray(table.nodes, table.capacity, table.count, records);
}

}  // namespace ambrel
