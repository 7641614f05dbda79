#include "fs/parse_file_system.h"

#include "app/settings.h"
#include "fs/cluster_map.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_partition.h"

namespace ambrel {

bool ParseFileSystem(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                     ParseContext* context) {
  if (!SettingOn("ParseFileSys")) return false;
  bool ok = false;
  std::vector<NtfsAttributeRun> attributeRuns;
  switch (partition.fsKind) {
    case kFsExfat:
      ok = ReadExfatPartition(stopWord, partition,
                              context ? context->orphanFolders : OrphanFolderSearch::kOff);
      break;
    case kFsFat16:
    case kFsFat32:
      ok = ReadFatPartition(stopWord, partition, context);
      break;
    case kFsNtfs:
      ok = ReadNtfsPartition(stopWord, partition, context, &attributeRuns);
      // The $Bitmap tells which clusters of deleted files were given to
      // other files since.
      if (ok) LoadNtfsAllocation(partition, stopWord);
      break;
    default:
      return false;
  }
  // Which live chain or run list holds which clusters: a deleted file's
  // clusters held by one were overwritten by it, a live file that runs into
  // another's clusters is cross-linked.
  if (ok)
    BuildClusterOwners(partition,
                       partition.fsKind == kFsNtfs ? ReadNtfsSystemRunLists(partition) : std::vector<NamedRunList>{},
                       attributeRuns);
  return ok;
}

}  // namespace ambrel
