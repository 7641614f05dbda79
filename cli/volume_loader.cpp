#include "volume_loader.h"

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <thread>

#include <CLI/CLI.hpp>

#include "app/progress.h"
#include "common/text.h"
#include "device/partition_table.h"
#include "device_output.h"
#include "fs/exfat/exfat_boot_sector.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_boot_sector.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "fs/ntfs/ntfs_volume.h"
#include "fs/parse_file_system.h"
#include "fs/views/recycle_bin.h"

namespace ambrel::cli {

namespace {

Volume MakeVolume(DiskHandle& disk, const std::string& path, int number, std::uint64_t start,
                  std::uint64_t sectors) {
  Volume v;
  v.number = number;
  PartitionInfo& p = v.info;
  p.startLba = start;
  p.sectorCount = sectors;
  p.diskSectorCount = disk.sizeBytes / kSectorSize;
  p.diskPath = path;
  p.volumePath = path;
  p.displayName = Format("%s #%d", path.c_str(), number);
  if (ReadSectors(disk, start, 1, p.bootSector.data())) p.fsKind = FsKindOfBootSector(p.bootSector);
  p.fsName = FsKindName(p.fsKind);
  return v;
}

void ReadLabel(PartitionInfo& p) {
  DiskHandle handle;
  if (!OpenPartition(p, handle)) return;
  if (p.fsKind == kFsNtfs) ReadNtfsVolumeLabel(handle, p);
  if (p.fsKind == kFsExfat) ReadExfatVolumeLabel(p, handle);
  if (p.fsKind == kFsFat16 || p.fsKind == kFsFat32)
    p.volumeLabel = FatBootSectorLabel(ByteSpan(p.bootSector.data(), p.bootSector.size()),
                                       p.fsKind == kFsFat32);
}

}  // namespace

std::int32_t FsKindOfBootSector(const BootSector& boot) {
  const ByteSpan sector(boot.data(), boot.size());
  if (IsNtfsBootSector(sector)) return kFsNtfs;
  if (IsExfatBootSector(sector)) return kFsExfat;
  if (IsFat32BootSector(sector)) return kFsFat32;
  if (IsFat16BootSector(sector)) return kFsFat16;
  return kFsUnknown;
}

std::vector<Volume> FindVolumes(DiskHandle& disk, const std::string& path) {
  std::vector<Volume> volumes;
  const PartitionTable table = ReadPartitionTable(disk);
  for (const TablePartition& part : table.partitions)
    volumes.push_back(MakeVolume(disk, path, part.number, part.startLba, part.sectorCount));
  if (table.kind == TableKind::kNone)
    volumes.push_back(MakeVolume(disk, path, 1, 0, disk.sizeBytes / kSectorSize));
  return volumes;
}

bool LoadVolume(Volume& volume) {
  PartitionInfo& partition = volume.info;
  if (partition.fsKind == kFsUnknown) return false;
  std::atomic<std::uint32_t> stopWord{0};
  std::atomic<bool> done{false};
  bool result = false;
  ClearProgress();
  std::thread worker([&] {
    result = ParseFileSystem(&stopWord, partition);
    done = true;
  });
  const auto start = std::chrono::steady_clock::now();
  bool shown = false;
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ScanProgress p;
    if (TakeProgress(p) && p.stage == kStageParse && std::chrono::steady_clock::now() - start > std::chrono::seconds(1)) {
      std::fprintf(stderr, "\rparsing %s: %d files, %d folders, %d deleted files, %d deleted folders",
                   partition.displayName.c_str(), p.u.parse.presentFiles, p.u.parse.presentDirs,
                   p.u.parse.deletedFiles, p.u.parse.deletedDirs);
      shown = true;
    }
  }
  worker.join();
  if (shown) std::fprintf(stderr, "\n");
  if (result) ReadLabel(partition);
  return result;
}

namespace {

// A volume number: decimal digits only, from 1 (partition numbers of MBR
// and GPT tables stay far below the limit).
std::string CheckVolumeNumber(const std::string& text) {
  const bool digits = !text.empty() && text.size() <= 6 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(text) == 0) return "'" + text + "' is not a volume number (1, 2, ...)";
  return {};
}

}  // namespace

void AddVolumeOptions(CLI::App& app, VolumeOptions& o) {
  app.add_option("--partition", o.partition, "only volume N (see the volume numbers of info or list)")
      ->type_name("N")
      ->check(CLI::Validator([](std::string& text) { return CheckVolumeNumber(text); }, ""));
  CLI::Option* deleted = app.add_flag_callback("--deleted", [&o] { o.scope = Scope::kDeleted; },
                                               "only deleted entries (and the folders that hold them)");
  CLI::Option* present = app.add_flag_callback("--present", [&o] { o.scope = Scope::kPresent; },
                                               "only entries that were not deleted");
  CLI::Option* recycle = app.add_flag_callback("--recycle", [&o] { o.scope = Scope::kRecycle; },
                                               "only the recycle bin");
  deleted->excludes(present)->excludes(recycle);
  present->excludes(recycle);
}

std::unique_ptr<PartitionInfo> ScopedVolume(Scope scope, PartitionInfo& volume) {
  auto part = std::make_unique<PartitionInfo>();
  if (scope == Scope::kAll) {
    *part = std::move(volume);
    return part;
  }
  if (scope == Scope::kRecycle) return BuildRecycleBinView(volume, *part) ? std::move(part) : nullptr;
  if (!SplitByDeletion(volume, *part)) return nullptr;
  if (scope == Scope::kDeleted) return part;
  *part = std::move(volume);  // the split left the present items here
  return part;
}

}  // namespace ambrel::cli
