// The volumes of a disk, a volume or an image file for the command line:
// the partition table's entries, or the whole device when it holds no
// table. Main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/disk_handle.h"
#include "catalog/partition_info.h"

namespace CLI {
class App;
}

namespace ambrel::cli {

struct Volume {
  int number = 0;  // partition number, 1 for a volume without a table
  bool truncated = false;  // the boot sector describes more sectors than the device holds
  PartitionInfo info;
};

// Every volume of the opened device; `path` is recorded as its disk path.
std::vector<Volume> FindVolumes(DiskHandle& disk, const std::string& path);

// Parses a volume's file system on a worker thread, showing the stage-1
// counters on stderr when it takes more than a second; then reads the
// volume label. False when the volume is not NTFS, FAT or exFAT or cannot
// be read.
bool LoadVolume(Volume& volume);

// Which entries of a volume a command works on.
enum class Scope { kAll, kPresent, kDeleted, kRecycle };

// The volume-choosing options of a command: --partition N and one of
// --deleted, --present, --recycle.
struct VolumeOptions {
  int partition = 0;  // 0 = every volume
  Scope scope = Scope::kAll;
};
void AddVolumeOptions(CLI::App& app, VolumeOptions& options);

// The volume as the scope shows it (the present or deleted half of the
// deletion split, or the recycle-bin view); takes the volume's table.
// Null when the scope leaves nothing of it.
std::unique_ptr<PartitionInfo> ScopedVolume(Scope scope, PartitionInfo& volume);

}  // namespace ambrel::cli
