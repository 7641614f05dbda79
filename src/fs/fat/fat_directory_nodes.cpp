// Nodes from decoded FAT directory entries.
#include <span>

#include "catalog/node_table.h"
#include "fs/fat/fat_directory.h"
#include "fs/fat/fat_geometry.h"

namespace ambrel {

void CountParsedNode(ScanProgress* progress, NodeKind kind) {
  if (!progress) return;
  progress->stage = kStageParse;
  switch (kind) {
    case kPresentFile: ++progress->u.parse.presentFiles; break;
    case kPresentFolder: ++progress->u.parse.presentDirs; break;
    case kDeletedFile: ++progress->u.parse.deletedFiles; break;
    case kDeletedFolder: ++progress->u.parse.deletedDirs; break;
  }
  PublishProgress(*progress);
}

void ParseFatDirectory(PartitionInfo& partition, const std::uint8_t* buffer, std::size_t length,
                       ScanProgress* progress, std::uint32_t parentId) {
  if (!buffer || length < 32) return;
  auto geometry = FatGeometryOf(partition);
  bool fat32 = geometry ? geometry->fat32 : partition.fsKind == kFsFat32;
  for (FatDirEntry& e : DecodeFatDirectory(std::span(buffer, length), fat32)) {
    FoundFileNode node{};
    node.parentId = parentId;
    node.size = e.size;
    node.created = e.created;
    node.modified = e.modified;
    node.firstCluster = e.firstCluster;
    if (geometry && geometry->InClusterRange(e.firstCluster))
      node.dataSector = geometry->ClusterLba(e.firstCluster);
    bool present = !e.deleted;
    bool directory = e.directory;
    if ((e.attributes & kFatAttrSystem) && IsRecycleBinText(e.name)) {
      // The system recycle bin is listed as a deleted folder even while it exists.
      e.name = kRecycleBinDisplayName;
      directory = true;
      present = false;
    }
    SetKind(node, static_cast<NodeKind>((present ? 1 : 0) | (directory ? 2 : 0)));
    if (directory) node.typeCode = kTypeFatDirectory;
    node.name = CopyNodeName(e.name.c_str());
    if (AddNode(partition.table, node, false)) CountParsedNode(progress, KindOf(node));
  }
}

}  // namespace ambrel
