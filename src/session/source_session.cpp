#include "session/source_session.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/settings.h"
#include "device/partition_table.h"
#include "device/window_device.h"
#include "fs/boot_probe.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_volume.h"
#include "fs/parse_file_system.h"
#include "fs/views/recycle_bin.h"
#include "platform/fs_identity.h"
#include "platform/out_folder.h"

namespace ambrel {

namespace {

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// The volume's label, read through the session's device.
void ReadLabel(PartitionInfo& p) {
  DiskHandle handle;
  if (!OpenPartition(p, handle)) return;
  if (p.fsKind == kFsNtfs) ReadNtfsVolumeLabel(handle, p);
  if (p.fsKind == kFsExfat) ReadExfatVolumeLabel(p, handle);
  if (p.fsKind == kFsFat16 || p.fsKind == kFsFat32) p.volumeLabel = FatVolumeLabel(p, handle);
}

// The scope's view of a parsed volume; takes the volume's table. Null when
// the scope leaves nothing of it.
std::unique_ptr<PartitionInfo> ScopedVolume(ListScope scope, PartitionInfo& volume) {
  auto part = std::make_unique<PartitionInfo>();
  if (scope == ListScope::kAll) {
    *part = std::move(volume);
    return part;
  }
  if (scope == ListScope::kRecycle) return BuildRecycleBinView(volume, *part) ? std::move(part) : nullptr;
  if (!SplitByDeletion(volume, *part)) return nullptr;
  if (scope == ListScope::kDeleted) return part;
  *part = std::move(volume);  // the split left the present items here
  return part;
}

// Parses on a worker so that the caller can follow the stage-1 records.
bool ParseWatched(PartitionInfo& partition, const std::atomic<std::uint32_t>* stopWord,
                  const ParseObserver& observer, OrphanFolderSearch orphans) {
  ProgressMailbox box;
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  bool result = false;
  std::thread worker([&] {
    ProgressBinding binding(&box);
    ParseContext context;
    context.orphanFolders = orphans;
    const bool parsed = ParseFileSystem(stopWord, partition, &context);
    std::lock_guard<std::mutex> hold(lock);
    result = parsed;
    done = true;
    finished.notify_one();
  });
  // The records are followed every 20 ms; the end of the parse wakes the
  // wait at once, so a small volume costs no idle tick.
  for (std::unique_lock<std::mutex> hold(lock); !done;) {
    finished.wait_for(hold, std::chrono::milliseconds(20), [&] { return done; });
    ScanProgress p;
    if (observer && box.Take(p) && p.stage == kStageParse) observer(p);
  }
  worker.join();
  return result;
}

}  // namespace

const char* VolumeKindName(const DeviceInfo& v) {
  // FAT12 shares the FAT16 kind; its boot sector tells them apart.
  if (v.fsKind == kFsFat16) {
    const char* name = JudgeFatBootSector(v.bootSector, 0).fsName;
    if (name[0] != '\0') return name;
  }
  return FsKindName(v.fsKind);
}

std::unique_ptr<SourceSession> SourceSession::Open(const std::string& path, std::string* why,
                                                   const DeviceLists* known) {
  std::unique_ptr<SourceSession> s(new SourceSession());
  s->path_ = path;
  if (!OpenByPath(path, s->disk_, why)) return nullptr;
  s->imageFile_ = IsRegularFile(path);
  DescribeOpenDisk(path, s->disk_, s->description_, JudgeSector, known);
  s->FindVolumes();
  return s;
}

std::unique_ptr<SourceSession> SourceSession::OpenRow(const DeviceInfo& row, const DeviceLists* known) {
  std::unique_ptr<SourceSession> s = Open(row.diskPath.empty() ? row.volumePath : row.diskPath, nullptr, known);
  if (!s || row.kind != 1) return s;
  // A volume row: that volume of its disk alone.
  SourceVolume v;
  v.number = 1;
  MakePartitionInfo(row, v.info);
  v.info.source = s->disk_.device;
  if (v.info.diskPath.empty()) v.info.diskPath = s->path_;
  s->volumes_.clear();
  s->volumes_.push_back(std::move(v));
  return s;
}

PartitionInfo SourceSession::Record(std::uint64_t start, std::uint64_t sectors) const {
  PartitionInfo p;
  p.startLba = start;
  p.sectorCount = sectors;
  p.diskSectorCount = disk_.sizeBytes / kSectorSize;
  p.diskPath = path_;
  p.volumePath = path_;
  p.diskName = description_.disk.diskName;
  p.diskNumber = description_.disk.diskNumber;
  p.removable = description_.disk.removable;
  p.source = disk_.device;
  return p;
}

void SourceSession::FindVolumes() {
  auto add = [this](int number, std::uint64_t start, std::uint64_t sectors) {
    SourceVolume v;
    v.number = number;
    v.info = Record(start, sectors);
    v.info.displayName = path_ + " #" + std::to_string(number);
    v.info.diskName = path_;
    auto window = std::make_shared<WindowDevice>(disk_.device, start * kSectorSize, sectors * kSectorSize, path_);
    DiskHandle volume = HandleForDevice(window, path_);
    SectorVerdict verdict;
    if (DetectFsKind(volume, sectors, JudgeSector, verdict, v.info.bootSector)) {
      v.info.fsKind = verdict.fsKind;
      v.info.fsName = verdict.fsKind == kFsFat16 ? verdict.fsName : FsKindName(verdict.fsKind);
      v.truncated = verdict.truncated;
    } else {
      v.info.fsName = FsKindName(kFsUnknown);
    }
    volumes_.push_back(std::move(v));
  };
  const PartitionTable table = ReadPartitionTable(disk_, JudgeSector);
  for (const TablePartition& part : table.partitions) add(part.number, part.startLba, part.sectorCount);
  if (table.kind == TableKind::kNone) add(1, 0, disk_.sizeBytes / kSectorSize);
}

const SourceVolume* SourceSession::Volume(int number) const {
  for (const SourceVolume& v : volumes_)
    if (v.number == number) return &v;
  return nullptr;
}

namespace {

// An NTFS boot sector refused for its record sizes alone: the reader will
// not guess a size the volume does not state.
bool NtfsRecordSizeRefused(const std::array<std::uint8_t, kSectorSize>& sector) {
  const ByteCursor c(sector.data(), sector.size());
  if (!c.Matches(3, "NTFS    ")) return false;
  const std::uint32_t bytesPerSector = c.UncheckedU16(11);
  const std::uint64_t clusterBytes = std::uint64_t{NtfsClusterSectors(c.UncheckedU8(13), bytesPerSector)} * 512;
  return clusterBytes != 0 && (!DecodeNtfsRecordSize(c.UncheckedU8(0x40), clusterBytes, bytesPerSector).Usable() ||
                               !DecodeNtfsRecordSize(c.UncheckedU8(0x44), clusterBytes, bytesPerSector).Usable());
}

}  // namespace

NoVolumeReason SourceSession::WhyNoVolume() {
  std::array<std::uint8_t, kSectorSize> sector{};
  if (ReadSectors(disk_, 0, 1, sector.data()) && NtfsRecordSizeRefused(sector)) return NoVolumeReason::kNtfsRecordSize;
  const PartitionTable table = ReadPartitionTable(disk_, JudgeSector);
  return table.kind == TableKind::kNone ? NoVolumeReason::kNoTableNoBootSector
                                        : NoVolumeReason::kTableWithoutUsableEntry;
}

GptLoss SourceSession::LostGptPartitions() {
  std::vector<int> numbers;
  for (const TablePartition& p : description_.partitions) numbers.push_back(p.number);
  return FindGptLoss(disk_, numbers);
}

BootSectorState SourceSession::BootSectorOf(const SourceVolume& volume) {
  std::array<std::uint8_t, kSectorSize> sector{};
  if (!ReadSectors(disk_, volume.info.startLba, 1, sector.data())) return BootSectorState::kUnreadable;
  if (std::all_of(sector.begin(), sector.end(), [](std::uint8_t b) { return b == 0; }))
    return BootSectorState::kEmpty;
  if (NtfsRecordSizeRefused(sector)) return BootSectorState::kNtfsRecordSize;
  return BootSectorState::kNoSignature;
}

VolumeListing SourceSession::ListVolume(int number, const ListRequest& request,
                                        const std::atomic<std::uint32_t>* stopWord, const ParseObserver& observer) {
  const ListScope scope = request.scope;
  VolumeListing listing;
  const SourceVolume* found = Volume(number);
  if (!found) {
    listing.problem = ListProblem::kNoSuchVolume;
    return listing;
  }
  if (found->info.fsKind == kFsUnknown) {
    listing.problem = ListProblem::kNotAFileSystem;
    listing.bootSector = BootSectorOf(*found);
    return listing;
  }
  // The listing parses a copy of the place: the session's volumes stay as
  // found, so a second listing reads the volume anew.
  PartitionInfo partition = Record(found->info.startLba, found->info.sectorCount);
  partition.fsKind = found->info.fsKind;
  partition.fsName = found->info.fsName;
  partition.bootSector = found->info.bootSector;
  partition.displayName = found->info.displayName;
  partition.volumePath = found->info.volumePath;
  partition.diskPath = found->info.diskPath;
  partition.volumeLabel = found->info.volumeLabel;
  partition.freeSectors = found->info.freeSectors;
  partition.volumeSerial = found->info.volumeSerial;
  const bool parsed = ParseWatched(partition, stopWord, observer,
                                   request.orphansOnLargeVolumes ? OrphanFolderSearch::kAlways
                                                                 : OrphanFolderSearch::kSmallVolumes);
  listing.unread = partition.unreadMetadata;
  listing.unreadDropped = partition.unreadMetadataDropped;
  listing.fatCopies = partition.fatCopies;
  listing.fatBoot = partition.fatBoot;
  if (!parsed) {
    listing.problem = ListProblem::kUnreadable;
    return listing;
  }
  ReadLabel(partition);
  listing.volume = ScopedVolume(scope, partition);
  if (!listing.volume && scope == ListScope::kRecycle) listing.problem = ListProblem::kNoRecycleBin;
  return listing;
}

std::vector<std::pair<int, VolumeListing>> SourceSession::ListInto(FoundFileCatalog& catalog, int number,
                                                                   ListScope scope,
                                                                   const std::atomic<std::uint32_t>* stopWord,
                                                                   const ParseObserver& observer, bool announce) {
  std::vector<std::pair<int, VolumeListing>> problems;
  for (const SourceVolume& v : volumes_) {
    if (number != 0 && v.number != number) continue;
    if (stopWord && stopWord->load() == 2) break;
    VolumeListing listing = ListVolume(v.number, scope, stopWord, observer);
    if (listing.volume) catalog.AddPartition(std::move(listing.volume), nullptr, announce);
    if ((listing.problem != ListProblem::kNone && listing.problem != ListProblem::kNoRecycleBin) ||
        listing.MetadataUnread() || listing.fatCopies.Any() || listing.fatBoot.Any())
      problems.emplace_back(v.number, std::move(listing));
  }
  return problems;
}

std::optional<PartitionInfo> SourceSession::ScanArea(int number) const {
  PartitionInfo out;
  if (number == 0) {
    const auto& rows = description_.volumes;
    if (rows.size() == 1 && rows[0].startLba == 0) MakePartitionInfo(rows[0], out);
    out.startLba = 0;
    out.sectorCount = out.diskSectorCount = description_.disk.sectorCount;
  } else {
    const SourceVolume* chosen = Volume(number);
    if (!chosen) return std::nullopt;
    out.fsKind = chosen->info.fsKind;
    out.bootSector = chosen->info.bootSector;
    out.startLba = chosen->info.startLba;
    out.sectorCount = chosen->info.sectorCount;
    out.diskSectorCount = description_.disk.sectorCount;
    out.volumeLabel = chosen->info.volumeLabel;
  }
  out.removable = description_.disk.removable;
  out.diskNumber = description_.disk.diskNumber;
  out.diskPath = out.displayName = path_;
  out.diskName = path_;  // the scan-state identity is the full path
  out.source = disk_.device;
  return out;
}

FolderCheck SourceSession::PrepareTarget(const std::string& folder) const {
  // Writing beside an image file cannot change the image: only a device
  // source keeps the target off its own disk. Checked before the folder is
  // made, on the file system it would be made on.
  if (!imageFile_ && FolderOnSourceDevice(ExistingFolderOrParent(folder), path_))
    return {FolderProblem::kOnTheSource, {}};
  const OutFolderResult made = PrepareOutFolder(folder);
  switch (made.problem) {
    case OutFolderProblem::kNone: return {};
    case OutFolderProblem::kNotAFolder: return {FolderProblem::kNotAFolder, {}};
    case OutFolderProblem::kPermissionDenied: return {FolderProblem::kPermissionDenied, {}};
    case OutFolderProblem::kReadOnly: return {FolderProblem::kReadOnly, {}};
    case OutFolderProblem::kOther: return {FolderProblem::kOther, made.systemText};
  }
  return {};
}

}  // namespace ambrel
