#include "fs/parse_file_system.h"

#include "app/settings.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_partition.h"

namespace ambrel {

bool ParseFileSystem(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                     ParseContext* context) {
  if (!SettingOn("ParseFileSys")) return false;
  switch (partition.fsKind) {
    case kFsExfat:
      return ReadExfatPartition(stopWord, partition);
    case kFsFat16:
    case kFsFat32:
      return ReadFatPartition(stopWord, partition, context);
    case kFsNtfs:
      return ReadNtfsPartition(stopWord, partition, context);
    default:
      return false;
  }
}

}  // namespace ambrel
