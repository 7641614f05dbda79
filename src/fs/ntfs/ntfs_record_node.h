// Turns one fixed-up MFT record into a found-file node. Called by the MFT
// walk, the tree rebuild from loose records and the bitmap loader, on their
// worker thread.
#pragma once

#include "fs/ntfs/ntfs_known_extents.h"
#include "catalog/found_file_node.h"
#include "common/byte_cursor.h"

namespace ambrel {

struct PartitionInfo;

// Fills a zeroed node from the record: id = record number, flags (in use,
// directory, resident), parent, times, size, name (heap copy, only when the
// record has one) and the raw run list of the first $DATA in `extra` (its
// byte length in `firstCluster`). The extents of the record's
// $INDEX_ALLOCATION attributes go to KnownIndexExtents. False for a rejected
// record and for an extension record; the node then holds no heap block.
bool ParseMftRecord(FoundFileNode& node, const PartitionInfo& partition, ByteSpan record,
                    bool keepSystem);

struct MftRecordSummary;
// The same from an already decoded record, without the name (the caller
// adds it, e.g. straight into the table's name store).
// A directory's index extents go to `known` when given.
void FillNodeFromSummary(FoundFileNode& node, const PartitionInfo& partition,
                         const MftRecordSummary& summary, KnownExtents* known = nullptr);

// Frees the heap blocks a parsed node holds that no table took over.
void ReleaseParsedNode(FoundFileNode& node);

}  // namespace ambrel
