// Per-partition table of found-file nodes, addressed by id (the slot).
//
// Threads: one worker thread fills a table (AddNode, LinkAll, Compact, ...)
// while the interface thread may read it through the catalogue. Every change
// to a record that is already published (linking into a parent, counting,
// removal, compaction, growth, renaming, check marks) happens under the
// table's `guard`, and every reader on another thread takes `guard` while it
// looks at the table (the catalogue's lookups do). A replaced node array is
// released late (DeferNodeArray), so a pointer loaded just before a growth
// stays readable for a while; the new array is published with release order.
// A thread that owns a table alone (a reader building it) needs no lock for
// its own reads.
//
// Names: node names live in the table's name arena. AddNode takes the heap
// copy made by CopyNodeName, moves it into the arena and frees it;
// AddNodeNamed copies a name straight into the arena (the fast path).
// `extra` and `childIds` passed in must come from std::malloc; the table
// frees them with std::free.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "catalog/found_file_node.h"
#include "catalog/name_arena.h"

namespace ambrel {

// Node arrays never exceed this many records; the highest id is one less.
inline constexpr std::uint32_t kMaxNodeRecords = 0x200000;

struct FoundFileTable {
  std::atomic<FoundFileNode*> nodes{nullptr};
  std::uint32_t capacity = 0;     // records allocated
  std::uint32_t count = 0;        // highest slot in use + 1
  std::uint32_t fileCount = 0;    // files linked into the tree
  std::uint32_t listingScope = 0; // 0 all, 1 present only, 2 deleted only
  std::uint32_t hasDriveLetter = 0;
  bool isSignatureTable = false;  // kind 15: type codes are not assigned by AddNode
  NameArena names;                // storage of every node name
  mutable std::mutex guard;       // see the header comment

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
bool IsFolderNode(const FoundFileTable& table, std::uint32_t id);  // live, kind 2 or 3

// Makes a heap (std::malloc) copy of a UTF-8 name for FoundFileNode::name.
char* CopyNodeName(const char* utf8);
char* CopyNodeName(std::string_view utf8);

// Creates the root "." (slot 5) and the lost folder (slot 4), unlinked.
bool InitTable(FoundFileTable& table);
// Adds a copy of `node` (the table takes over name, childIds and extra);
// returns the id, or 0 on failure (then the caller still owns nothing: the
// node's heap fields are freed). A node without a name is refused.
// With `link` and a live parent folder, the node is appended to the parent's
// child list and a file is counted in every ancestor below the root and in
// the table's fileCount.
std::uint32_t AddNode(FoundFileTable& table, const FoundFileNode& node, bool link);
// The same, with the name given as text and copied into the table's arena;
// node.name is ignored and not freed.
std::uint32_t AddNodeNamed(FoundFileTable& table, const FoundFileNode& node,
                           std::string_view name, bool link);
// Links every live node except the root to its parent; nodes whose parent is
// missing or not a folder go to the lost folder, and so does one node of
// every parent cycle (a node that is its own parent included).
void LinkAll(FoundFileTable& table);
// Frees the node's name, child list and `extra`, and zeroes the record.
void RemoveNode(FoundFileTable& table, std::uint32_t id);
// Closes the gaps of dead slots from slot 5 upward when more than 5000 have
// accumulated, keeping every link valid, and shrinks the array when more
// than 3000 records would be freed.
void Compact(FoundFileTable& table);
// Spreads more than 300 children of the lost folder over subfolders "000",
// "001", ... of 300 children each.
void SplitLostFolder(FoundFileTable& table);
std::uint32_t CountLive(const FoundFileTable& table);
// The "ShowAllFile" pass from node `id`: removes files the type filter
// rejects and folders left empty (not the root), sets every folder's
// fileCount and returns the number of files kept below `id`.
std::uint32_t PruneAndCount(FoundFileTable& table, std::uint32_t id);
// Replaces a node's name with a copy of `utf8`. False for a dead slot.
bool RenameNode(FoundFileTable& table, std::uint32_t id, std::string_view utf8);
void FreeTable(FoundFileTable& table);
// Makes `dst` (emptied first) a deep copy of `src`: names, child lists, and
// each `extra` block with `firstCluster` bytes (dropped when that is 0).
bool DuplicateTable(const FoundFileTable& src, FoundFileTable& dst);

// Checked files (kinds 0 and 1 with a nonzero check state) of one table.
struct SelectionTotal {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};
void AddSelected(const FoundFileTable& table, SelectionTotal& total);

// Readers for other threads: take the guard, copy, release.
// Copy of a live record (false for a dead slot); childIds must not be used.
bool CopyNodeAt(const FoundFileTable& table, std::uint32_t id, FoundFileNode& out);
std::vector<std::uint32_t> ChildIdsOf(const FoundFileTable& table, std::uint32_t id);

}  // namespace ambrel
