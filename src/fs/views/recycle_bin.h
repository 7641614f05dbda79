// The recycle bin and the deletion views of a parsed partition.
//
// Threads: called on the scan worker thread that parsed the partition,
// before the partition (or its views) is handed to the catalogue.
#pragma once

#include "catalog/folder_names.h"
#include "catalog/found_file_node.h"
#include "catalog/partition_info.h"

namespace ambrel {

// The display name of the system recycle bin.
inline constexpr const char* kRecycleBinName = kRecycleBinFolderName;

// True when the node's name is "$RECYCLE.BIN" (12 characters, ASCII letters
// compared without case).
bool IsRecycleBinName(const FoundFileNode& node);
// On a node not yet added to a table (its name came from CopyNodeName):
// renames a recycle-bin node to "回收站" and makes it a deleted folder, so
// that it is listed (and recovered) as deleted even while it exists.
void MarkAsRecycleBin(FoundFileNode& node);

// Makes `copy` a full copy of `source` (compacted first) that owns deep
// copies of every live node's name, child list and extra block, the loaded
// FAT and the exFAT allocation bitmap.
bool CopyPartition(PartitionInfo& source, PartitionInfo& copy);

// What KeepKind keeps below a folder.
enum class KeepMode { kNothing = 0, kDeleted = 1, kPresent = 2 };
// Reduces the subtree of a folder to one kind. A deleted folder is kept
// whole when deleted items are kept, and emptied when present items are.
// Folders left empty are freed (never the root). Returns true when the
// folder itself remains.
bool KeepKind(PartitionInfo& partition, std::uint32_t folderId, KeepMode mode);

// Reduces `partition` to its present items (listingScope 1) and makes
// `copy` a view of its deleted items (listingScope 2).
bool SplitByDeletion(PartitionInfo& partition, PartitionInfo& copy);

// Makes `copy` a view that holds only the "回收站" folder (searched among ids
// 5..1024) and its subtree below the root. False when there is none or it
// holds no file.
bool BuildRecycleBinView(PartitionInfo& partition, PartitionInfo& copy);

}  // namespace ambrel
