#include "fs/ntfs/ntfs_tree_from_records.h"

#include <vector>

#include "catalog/node_reserve.h"
#include "catalog/node_table.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_record_node.h"
#include "fs/ntfs/ntfs_volume.h"

namespace ambrel {

namespace {

PartitionInfo ScanBuiltPartition(const std::string& displayName, std::uint64_t startLba, std::uint32_t spc,
                                 std::uint32_t recordBytes) {
  PartitionInfo partition;
  partition.fsKind = kFsNtfs;
  partition.startLba = startLba;
  partition.sectorCount = kUnknownPartitionSize;
  // The geometry of the records' volume, in 512-byte sectors as the run
  // lists are resolved.
  partition.bootSector[11] = 0x00;
  partition.bootSector[12] = 0x02;
  partition.bootSector[kBootSectorsPerCluster] = static_cast<std::uint8_t>(spc);
  SetMftRecordBytes(partition.bootSector, recordBytes);
  partition.displayName = displayName;
  partition.fsName = "NTFS";
  return partition;
}

}  // namespace

bool BuildNtfsTreeFromRecords(std::vector<PartitionInfo>& partitions, ScanProgress& progress,
                              DiskHandle& handle, const std::string& displayName,
                              const std::vector<FileRecordHit>& hits, std::uint64_t startLba,
                              std::uint32_t hiWord, std::uint32_t spc, std::uint32_t recordBytes) {
  if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) return false;
  if (recordBytes < 512 || recordBytes > kMaxNtfsRecordBytes || (recordBytes & (recordBytes - 1)) != 0) return false;
  PartitionInfo partition = ScanBuiltPartition(displayName, startLba, spc, recordBytes);
  if (!hits.empty()) ReserveNodes(partition.table, hits.back().recordNumber + 1);
  std::vector<std::uint8_t> record;
  for (const FileRecordHit& hit : hits) {
    const RecordRead read = ReadMftRecord(handle, hit.lba, recordBytes, record);
    if (read == RecordRead::kUnreadable) continue;
    FoundFileNode node{};
    if (!ParseMftRecord(node, partition, record, false)) continue;
    if (read != RecordRead::kOk) node.extraCount |= kNtfsRecordTorn;
    node.dataSector = hit.lba;
    if (!node.name || node.id == 0) {
      ReleaseParsedNode(node);
      continue;
    }
    const NodeKind kind = KindOf(node);
    if (AddNode(partition.table, node, false) != 0) {
      if (kind == kDeletedFolder) ++progress.u.parse.deletedDirs;
      if (kind == kPresentFolder) ++progress.u.parse.presentDirs;
    }
    PublishProgress(progress);
  }
  InitTable(partition.table);
  LinkAll(partition.table);
  Compact(partition.table);
  partitions.push_back(std::move(partition));
  return true;
}

}  // namespace ambrel
