// The entries of a parsed volume as `list` prints them: one line per file
// or folder with its path, or one JSON object per volume.
#pragma once

#include <string>
#include <vector>

#include "catalog/partition_info.h"
#include "json_output.h"
#include "session/file_state.h"

namespace ambrel::cli {

struct TreeEntry {
  std::string path;
  const FoundFileNode* node = nullptr;
  ListedFileState state;  // what the copy-out would make of a file
};

// "YYYY-MM-DD hh:mm:ss", or "-" for no time.
std::string FormatPackedTime(PackedTime t);
// The path of a node below the root, "/" separated.
std::string NodePath(const FoundFileTable& table, std::uint32_t id);
// Every live node but the root (and an empty lost folder), sorted by path.
std::vector<TreeEntry> CollectTreeEntries(const FoundFileTable& table);
// The same, each file with its state against its volume.
std::vector<TreeEntry> CollectTreeEntries(const PartitionInfo& volume);

void PrintTreeText(int number, const PartitionInfo& info, const std::vector<TreeEntry>& entries);
Json TreeJson(int number, const PartitionInfo& info, const std::vector<TreeEntry>& entries);

}  // namespace ambrel::cli
