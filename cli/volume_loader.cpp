#include "volume_loader.h"

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <thread>

#include <CLI/CLI.hpp>

#include "app/progress.h"
#include "common/text.h"
#include "device/device_enum.h"
#include "device/partition_table.h"
#include "device/window_device.h"
#include "device_output.h"
#include "fs/boot_probe.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_reader.h"
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
  auto window = std::make_shared<WindowDevice>(disk.device, start * kSectorSize,
                                               sectors * kSectorSize, path);
  DiskHandle volumeHandle = HandleForDevice(window, path);
  SectorVerdict verdict;
  if (DetectFsKind(volumeHandle, sectors, JudgeSector, verdict, p.bootSector)) {
    p.fsKind = verdict.fsKind;
    p.fsName = verdict.fsKind == kFsFat16 ? verdict.fsName : FsKindName(p.fsKind);
    v.truncated = verdict.truncated;
  } else {
    p.fsName = FsKindName(p.fsKind);
  }
  return v;
}

void ReadLabel(PartitionInfo& p) {
  DiskHandle handle;
  if (!OpenPartition(p, handle)) return;
  if (p.fsKind == kFsNtfs) ReadNtfsVolumeLabel(handle, p);
  if (p.fsKind == kFsExfat) ReadExfatVolumeLabel(p, handle);
  if (p.fsKind == kFsFat16 || p.fsKind == kFsFat32)
    p.volumeLabel = FatVolumeLabel(p, handle);
}

}  // namespace

std::vector<Volume> FindVolumes(DiskHandle& disk, const std::string& path) {
  std::vector<Volume> volumes;
  const PartitionTable table = ReadPartitionTable(disk, JudgeSector);
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
