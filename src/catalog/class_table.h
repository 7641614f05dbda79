// Table of ClassNode records: one classification tree (by type, by creation
// date, by modification date). Same slot and liveness rules as a node table
// (a slot is live when its stored id equals the slot; ClassNode has no name,
// so slot 0 is never live), growth bound 0x400000.
//
// Threads: filled by the worker that adds a partition to the catalogue and
// read by the interface thread; both sides take `guard` (the catalogue does).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "catalog/found_file_node.h"

namespace ambrel {

inline constexpr std::uint32_t kMaxClassRecords = 0x400000;

struct ClassTable {
  std::atomic<ClassNode*> nodes{nullptr};
  std::uint32_t capacity = 0;
  std::uint32_t count = 0;
  std::uint32_t fileCount = 0;   // the root's count, shown in the tree's label
  mutable std::mutex guard;

  ClassTable() = default;
  ClassTable(const ClassTable&) = delete;
  ClassTable& operator=(const ClassTable&) = delete;
  ~ClassTable();
};

// The functions below expect the caller to hold `guard` (or own the table).
bool IsClassLive(const ClassTable& table, std::uint32_t id);
ClassNode* ClassNodeAt(ClassTable& table, std::uint32_t id);
const ClassNode* ClassNodeAt(const ClassTable& table, std::uint32_t id);
// Adds a node at node.id (or at `count` when 0); with `link`, appends it to
// its live parent's child list. Returns the id, 0 on failure.
std::uint32_t AddClassNode(ClassTable& table, const ClassNode& node, bool link);
// Grows the array to hold `records` and raises `count` to it (the preset
// counts of the trees: leaves are placed from there on).
bool PresetClassCount(ClassTable& table, std::uint32_t records, bool allocate);
void FreeClassTable(ClassTable& table);

}  // namespace ambrel
