#include "fs/boot_probe.h"
#include "volume_checks.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "common/text.h"
#include "device/partition_table.h"

namespace ambrel::cli {

std::vector<int> VolumeNumbers(const std::vector<Volume>& volumes) {
  std::vector<int> numbers;
  for (const Volume& v : volumes) numbers.push_back(v.number);
  return numbers;
}

bool IsImageFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

std::string NoVolumeText(int wanted, const std::vector<Volume>& volumes, const std::string& path) {
  const char* what = IsImageFile(path) ? "image" : "device";
  std::string text = Format("no volume %d (the %s has %zu", wanted, what, volumes.size());
  bool consecutive = true;
  for (std::size_t i = 0; i < volumes.size(); ++i) consecutive = consecutive && volumes[i].number == int(i) + 1;
  if (!consecutive) {
    text += ":";
    for (std::size_t i = 0; i < volumes.size(); ++i) text += Format("%s %d", i ? "," : "", volumes[i].number);
  }
  return text + ")";
}

std::string NoVolumesText(DiskHandle& disk) {
  const PartitionTable table = ReadPartitionTable(disk, JudgeSector);
  if (table.kind == TableKind::kNone) return "no volume found (no partition table and no boot sector at sector 0)";
  return Format("no volume found (the %s partition table at sector 0 has no usable entry, and sector 0 is not an "
                "NTFS, FAT16, FAT32 or exFAT boot sector)",
                TableKindName(table.kind));
}

std::string NotFileSystemText(DiskHandle& disk, const Volume& volume) {
  const unsigned long long start = volume.info.startLba;
  std::array<std::uint8_t, kSectorSize> sector{};
  std::string why;
  if (!disk.IsOpen() || !ReadSectors(disk, volume.info.startLba, 1, sector.data()))
    why = Format("its boot sector at sector %llu could not be read", start);
  else if (std::all_of(sector.begin(), sector.end(), [](std::uint8_t b) { return b == 0; }))
    why = Format("its boot sector at sector %llu is empty", start);
  else
    why = Format("no boot sector signature at sector %llu", start);
  return Format("volume %d: not NTFS, FAT or exFAT (%s)", volume.number, why.c_str());
}

}  // namespace ambrel::cli
