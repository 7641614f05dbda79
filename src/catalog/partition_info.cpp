#include "catalog/partition_info.h"

#include <cstdint>
#include <utility>

namespace ambrel {

void NoteUnreadMetadata(PartitionInfo& partition, UnreadMetadata piece) {
  auto& list = partition.unreadMetadata;
  if (!list.empty()) {
    UnreadMetadata& last = list.back();
    const bool sameKind = last.kind == piece.kind && last.folder == piece.folder;
    const bool continues = piece.kind == UnreadMetadataKind::kFolderSectors
                               ? last.first == piece.first && last.lba + last.count == piece.lba
                               : last.first + last.count == piece.first;
    if (sameKind && continues && last.count <= UINT64_MAX - piece.count) {
      last.count += piece.count;
      return;
    }
  }
  if (list.size() >= kMaxUnreadMetadata) {
    ++partition.unreadMetadataDropped;
    return;
  }
  list.push_back(std::move(piece));
}

int MakePartitionInfo(const DeviceInfo& row, PartitionInfo& out) {
  out = PartitionInfo();
  out.removable = row.removable;
  out.startLba = row.startLba;
  out.sectorCount = row.sectorCount;
  out.displayName = row.displayName;
  out.freeSectors = row.freeSectors;
  out.fsKind = row.fsKind;
  out.volumePath = row.volumePath;
  out.volumeLabel = row.volumeLabel;
  out.fsName = row.fsName;
  out.volumeSerial = row.volumeSerial;
  out.bootSector = row.bootSector;
  out.diskName = row.diskName;
  out.diskPath = row.diskPath;
  out.diskSectorCount = row.diskSectorCount;
  out.diskNumber = row.diskNumber;
  return row.kind;
}

bool OpenPartition(const PartitionInfo& partition, DiskHandle& out) {
  if (partition.source) {
    out = HandleForDevice(partition.source, partition.displayName);
    if (partition.sectorCount == 0) {
      out = DiskHandle{};
      return false;
    }
    out.reopenPath = partition.diskPath;
    out.lastLba = LastLbaOf(partition.startLba, partition.sectorCount);
    return true;
  }
  return OpenVolumeRange(partition.diskPath, partition.startLba, partition.sectorCount,
                         partition.displayName, out);
}

}  // namespace ambrel
