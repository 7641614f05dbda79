// Node-table operations for callers that already hold the table's guard
// (or own the table alone). The public functions of node_table.h take the
// guard and call these.
#pragma once

#include <cstdint>
#include <string_view>

#include "catalog/node_table.h"

namespace ambrel::locked {

std::uint32_t AddNode(FoundFileTable& table, const FoundFileNode& node, std::string_view name,
                      bool link);
void LinkAll(FoundFileTable& table);
void RemoveNode(FoundFileTable& table, std::uint32_t id);
void Compact(FoundFileTable& table);
void SplitLostFolder(FoundFileTable& table);
std::uint32_t PruneAndCount(FoundFileTable& table, std::uint32_t id);
bool Rename(FoundFileTable& table, std::uint32_t id, std::string_view utf8);
void Free(FoundFileTable& table);

}  // namespace ambrel::locked
