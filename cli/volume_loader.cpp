#include "volume_loader.h"

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <cstdio>
#include <thread>

#include "app/progress.h"
#include "common/byte_cursor.h"
#include "common/text.h"
#include "fs/exfat/exfat_boot_sector.h"
#include "app/settings.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_reader.h"
#include "fs/fat/fat_boot_sector.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "fs/ntfs/ntfs_volume.h"
#include "fs/parse_file_system.h"

namespace ambrel::cli {

namespace {

struct TableEntry {
  int number = 0;
  std::uint64_t start = 0;
  std::uint64_t sectors = 0;
};

constexpr int kMaxLogicalPartitions = 128;
constexpr std::uint32_t kMaxGptEntries = 1024;

bool IsExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

bool HasMbrSignature(ByteCursor sector) { return sector.U16(510).value_or(0) == 0xAA55; }

// The logical partitions of an extended partition, numbered from 5: each
// EBR holds the partition (relative to itself) and the next EBR (relative to
// the extended partition's start).
void ReadLogicalPartitions(DiskHandle& disk, std::uint64_t extendedStart, std::vector<TableEntry>& out) {
  std::uint64_t ebr = extendedStart;
  std::array<std::uint8_t, 512> sector{};
  for (int i = 0; i < kMaxLogicalPartitions; ++i) {
    if (!ReadSectors(disk, ebr, 1, sector.data())) return;
    ByteCursor c(sector.data(), sector.size());
    if (!HasMbrSignature(c)) return;
    const std::uint32_t rel = c.U32(446 + 8).value_or(0), count = c.U32(446 + 12).value_or(0);
    if (c.U8(446 + 4).value_or(0) != 0 && count != 0) out.push_back({5 + i, ebr + rel, count});
    const std::uint32_t next = c.U32(462 + 8).value_or(0);
    if (!IsExtendedType(c.U8(462 + 4).value_or(0)) || next == 0) return;
    ebr = extendedStart + next;
  }
}

bool ReadGpt(DiskHandle& disk, std::vector<TableEntry>& out) {
  std::array<std::uint8_t, 512> header{};
  if (!ReadSectors(disk, 1, 1, header.data())) return false;
  ByteCursor h(header.data(), header.size());
  if (h.U64(0).value_or(0) != 0x5452415020494645ull) return false;  // "EFI PART"
  const std::uint64_t entriesLba = h.U64(72).value_or(0);
  const std::uint32_t count = std::min(h.U32(80).value_or(0), kMaxGptEntries);
  const std::uint32_t size = h.U32(84).value_or(0);
  if (size < 128 || size > 4096 || size % 8 != 0 || entriesLba == 0) return false;
  const std::uint64_t sectors = (std::uint64_t{count} * size + 511) / 512;
  if (sectors == 0) return false;
  std::unique_ptr<std::uint8_t[]> entries(new std::uint8_t[sectors * 512]);
  if (!ReadSectors(disk, entriesLba, static_cast<std::uint32_t>(sectors), entries.get())) return false;
  ByteCursor all(entries.get(), sectors * 512);
  for (std::uint32_t i = 0; i < count; ++i) {
    auto e = all.Sub(std::uint64_t{i} * size, size);
    if (!e || (e->U64(0).value_or(0) == 0 && e->U64(8).value_or(0) == 0)) continue;
    const std::uint64_t first = e->U64(32).value_or(0), last = e->U64(40).value_or(0);
    if (first == 0 || last < first) continue;
    out.push_back({static_cast<int>(i + 1), first, last - first + 1});
  }
  return true;
}

// False when sector 0 holds no partition table.
bool ReadPartitionTable(DiskHandle& disk, std::vector<TableEntry>& out) {
  std::array<std::uint8_t, 512> mbr{};
  if (!ReadSectors(disk, 0, 1, mbr.data())) return false;
  ByteCursor c(mbr.data(), mbr.size());
  if (!HasMbrSignature(c)) return false;
  BootSector boot{};
  std::copy(mbr.begin(), mbr.end(), boot.begin());
  if (FsKindOfBootSector(boot) != kFsUnknown) return false;  // a volume boot sector
  bool any = false;
  for (int i = 0; i < 4; ++i) {
    const std::uint64_t at = 446 + 16ull * i;
    const std::uint8_t type = c.U8(at + 4).value_or(0);
    const std::uint32_t start = c.U32(at + 8).value_or(0), count = c.U32(at + 12).value_or(0);
    if (type == 0 || count == 0) continue;
    any = true;
    if (type == 0xEE) return ReadGpt(disk, out);
    if (IsExtendedType(type))
      ReadLogicalPartitions(disk, start, out);
    else
      out.push_back({i + 1, start, count});
  }
  return any;
}

Volume MakeVolume(DiskHandle& disk, const std::string& path, const TableEntry& entry) {
  Volume v;
  v.number = entry.number;
  PartitionInfo& p = v.info;
  p.startLba = entry.start;
  p.sectorCount = entry.sectors;
  p.diskSectorCount = disk.sizeBytes / kSectorSize;
  p.diskPath = path;
  p.volumePath = path;
  p.displayName = Format("%s #%d", path.c_str(), entry.number);
  if (ReadSectors(disk, entry.start, 1, p.bootSector.data())) p.fsKind = FsKindOfBootSector(p.bootSector);
  p.fsName = FsKindName(p.fsKind);
  return v;
}

// The dispatcher lists NTFS; the FAT and exFAT readers are called directly
// until they are registered with it.
bool ParseVolume(const std::atomic<int>* stopWord, PartitionInfo& p) {
  if (FindFileSystemReader(p.fsKind) != nullptr || !SettingOn("ParseFileSys")) return ParseFileSystem(stopWord, p);
  if (p.fsKind == kFsFat16 || p.fsKind == kFsFat32) return ReadFatPartition(nullptr, p);
  if (p.fsKind == kFsExfat) return ReadExfatPartition(nullptr, p);
  return false;
}

void ReadLabel(PartitionInfo& p) {
  DiskHandle handle;
  if (!OpenPartition(p, handle)) return;
  if (p.fsKind == kFsNtfs) ReadNtfsVolumeLabel(handle, p);
  if (p.fsKind == kFsExfat) ReadExfatVolumeLabel(p, handle);
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

const char* FsKindName(std::int32_t kind) {
  switch (kind) {
    case kFsNtfs: return "NTFS";
    case kFsFat32: return "FAT32";
    case kFsFat16: return "FAT16";
    case kFsExfat: return "exFAT";
    default: return "unknown";
  }
}

std::vector<Volume> FindVolumes(DiskHandle& disk, const std::string& path) {
  std::vector<Volume> volumes;
  std::vector<TableEntry> entries;
  if (ReadPartitionTable(disk, entries)) {
    for (const TableEntry& e : entries) volumes.push_back(MakeVolume(disk, path, e));
    return volumes;
  }
  volumes.push_back(MakeVolume(disk, path, TableEntry{1, 0, disk.sizeBytes / kSectorSize}));
  return volumes;
}

bool LoadVolume(Volume& volume) {
  PartitionInfo& partition = volume.info;
  if (partition.fsKind == kFsUnknown) return false;
  std::atomic<int> stopWord{0};
  std::atomic<bool> done{false};
  bool result = false;
  ClearProgress();
  std::thread worker([&] {
    result = ParseVolume(&stopWord, partition);
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

}  // namespace ambrel::cli
