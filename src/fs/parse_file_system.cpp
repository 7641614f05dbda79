#include "fs/parse_file_system.h"

#include <mutex>
#include <vector>
#include <utility>

#include "app/settings.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_partition.h"

namespace ambrel {

namespace {

struct ReaderTable {
  std::mutex lock;
  std::vector<std::pair<std::int32_t, FileSystemReader>> readers{{kFsNtfs, &ReadNtfsPartition},
                                                                  {kFsFat16, &ReadFatPartition},
                                                                  {kFsFat32, &ReadFatPartition},
                                                                  {kFsExfat, &ReadExfatPartition}};
};

ReaderTable& Readers() {
  static ReaderTable table;
  return table;
}

bool IsListableKind(std::int32_t fsKind) {
  return fsKind == kFsExfat || fsKind == kFsFat16 || fsKind == kFsFat32 || fsKind == kFsNtfs;
}

}  // namespace

void RegisterFileSystemReader(std::int32_t fsKind, FileSystemReader reader) {
  ReaderTable& t = Readers();
  std::lock_guard<std::mutex> guard(t.lock);
  for (auto& entry : t.readers)
    if (entry.first == fsKind) {
      entry.second = reader;
      return;
    }
  t.readers.emplace_back(fsKind, reader);
}

FileSystemReader FindFileSystemReader(std::int32_t fsKind) {
  ReaderTable& t = Readers();
  std::lock_guard<std::mutex> guard(t.lock);
  for (const auto& entry : t.readers)
    if (entry.first == fsKind) return entry.second;
  return nullptr;
}

bool ParseFileSystem(const std::atomic<int>* stopWord, PartitionInfo& partition) {
  if (!SettingOn("ParseFileSys")) return false;
  if (!IsListableKind(partition.fsKind)) return false;
  FileSystemReader reader = FindFileSystemReader(partition.fsKind);
  return reader != nullptr && reader(stopWord, partition);
}

}  // namespace ambrel
