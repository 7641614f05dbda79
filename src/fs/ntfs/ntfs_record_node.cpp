#include "fs/ntfs/ntfs_record_node.h"

#include <cstdlib>
#include <cstring>

#include "catalog/node_table.h"
#include "catalog/partition_info.h"
#include "fs/ntfs/ntfs_known_extents.h"
#include "fs/ntfs/ntfs_record.h"

namespace ambrel {

namespace {

void RegisterIndexExtents(const PartitionInfo& partition, const MftRecordSummary& summary, KnownExtents& known) {
  for (const auto& runs : summary.indexRuns) {
    ExtentList extents;
    if (!ResolveExtents(partition, runs, extents)) continue;
    for (const DataExtent& e : extents)
      if (!e.sparse) known.AddIndex(e.startSector, e.sectorCount);
  }
}

}  // namespace

void FillNodeFromSummary(FoundFileNode& node, const PartitionInfo& partition,
                         const MftRecordSummary& summary, KnownExtents* known) {
  if (known) RegisterIndexExtents(partition, summary, *known);
  node.id = summary.recordNumber;
  node.parentId = summary.parentId;
  node.flags = summary.nodeFlags;
  node.created = summary.created;
  node.modified = summary.modified;
  node.size = summary.size;
  node.extraCount = summary.dataMarks;
  if (summary.runList.empty()) return;
  // Freed with the node by the table (std::free).
  void* block = std::malloc(summary.runList.size());
  if (!block) return;
  std::memcpy(block, summary.runList.data(), summary.runList.size());
  node.extra = block;
  node.firstCluster = static_cast<std::uint32_t>(summary.runList.size());
}

bool ParseMftRecord(FoundFileNode& node, const PartitionInfo& partition, ByteSpan record,
                    bool keepSystem) {
  auto summary = DecodeMftRecord(record, keepSystem);
  // An extension record holds attributes of the file its base record
  // stands for; it is no file of its own.
  if (!summary || summary->baseRecord != 0) return false;
  FillNodeFromSummary(node, partition, *summary);
  if (summary->hasName) node.name = CopyNodeName(summary->name.c_str());
  return true;
}

void ReleaseParsedNode(FoundFileNode& node) {
  std::free(node.name);
  std::free(node.extra);
  node.name = nullptr;
  node.extra = nullptr;
  node.firstCluster = 0;
}

}  // namespace ambrel
