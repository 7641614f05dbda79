// Per-partition table of found-file nodes, addressed by id (the slot).
//
// Threads: one worker thread fills a table (AddNode, LinkAll, Compact) while
// the interface thread may read it; a replaced node array is released through
// the pool's deferred release so that a reader holding the old pointer keeps
// valid memory for a while.
#pragma once

#include <atomic>
#include <cstdint>

#include "catalog/found_file_node.h"

namespace ambrel {

struct FoundFileTable {
  std::atomic<FoundFileNode*> nodes{nullptr};
  std::uint32_t capacity = 0;     // records allocated
  std::uint32_t count = 0;        // highest slot in use + 1
  std::uint32_t fileCount = 0;    // files linked into the tree
  std::uint32_t listingScope = 0; // 0 all, 1 present only, 2 deleted only
  std::uint32_t hasDriveLetter = 0;
  bool isSignatureTable = false;  // kind 15: type codes are not assigned by AddNode

  FoundFileTable() = default;
  FoundFileTable(const FoundFileTable&) = delete;
  FoundFileTable& operator=(const FoundFileTable&) = delete;
  FoundFileTable(FoundFileTable&& other) noexcept;
  FoundFileTable& operator=(FoundFileTable&& other) noexcept;
  ~FoundFileTable();
};

// Live when the id stored in slot i equals i and the name is set.
bool IsLive(const FoundFileTable& table, std::uint32_t id);
FoundFileNode* NodeAt(FoundFileTable& table, std::uint32_t id);  // live node or null
const FoundFileNode* NodeAt(const FoundFileTable& table, std::uint32_t id);

// Makes a heap copy of a UTF-8 name for FoundFileNode::name.
char* CopyNodeName(const char* utf8);

// Creates the root "." (slot 5) and the lost folder (slot 4), unlinked.
bool InitTable(FoundFileTable& table);
// Adds a copy of `node` (the table takes over name, childIds and extra);
// returns the id, or 0 on failure (then the caller still owns nothing: the
// node's heap fields are freed).
std::uint32_t AddNode(FoundFileTable& table, const FoundFileNode& node, bool link);
void LinkAll(FoundFileTable& table);
void RemoveNode(FoundFileTable& table, std::uint32_t id);
void Compact(FoundFileTable& table);
void SplitLostFolder(FoundFileTable& table);
std::uint32_t CountLive(const FoundFileTable& table);
std::uint32_t PruneAndCount(FoundFileTable& table, std::uint32_t id);
void FreeTable(FoundFileTable& table);

}  // namespace ambrel
