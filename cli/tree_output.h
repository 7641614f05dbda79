// The entries of a parsed volume as `list` prints them: one line per file
// or folder with its path, or one JSON object per volume.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalog/large_vector.h"
#include "catalog/partition_info.h"
#include "json_output.h"
#include "session/file_state.h"

namespace ambrel::cli {

struct TreeEntry {
  std::string_view path;  // in the `TreeEntries` that holds the entry
  const FoundFileNode* node = nullptr;
};

// The entries in path order, and the text of all their paths.
struct TreeEntries {
  LargeVector<TreeEntry> list;
  LargeVector<char> paths;  // a vector keeps its buffer when moved
  // The volume each file is judged against (what the copy-out would make
  // of it), when the entries were collected from one; the state is worked
  // out as each entry is printed rather than kept for all of them.
  const PartitionInfo* volume = nullptr;

  ListedFileState StateOf(const TreeEntry& e) const {
    return volume ? FileStateOf(*volume, *e.node) : ListedFileState{};
  }

  std::size_t size() const { return list.size(); }
  LargeVector<TreeEntry>::const_iterator begin() const { return list.begin(); }
  LargeVector<TreeEntry>::const_iterator end() const { return list.end(); }
};

// "YYYY-MM-DD hh:mm:ss", or "-" for no time.
std::string FormatPackedTime(PackedTime t);
// The path of a node below the root, "/" separated.
std::string NodePath(const FoundFileTable& table, std::uint32_t id);
// Every live node but the root (and an empty lost folder), sorted by path.
TreeEntries CollectTreeEntries(const FoundFileTable& table);
// The same, each file with its state against its volume.
TreeEntries CollectTreeEntries(const PartitionInfo& volume);

void PrintTreeText(int number, const PartitionInfo& info, const TreeEntries& entries);
Json TreeJson(int number, const PartitionInfo& info, const TreeEntries& entries);

}  // namespace ambrel::cli
