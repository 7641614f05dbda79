// The options of one deep scan: the scanned area, the priority range and
// the option bytes the settings dialog edits, and the recovery mode that
// decides whether only free space is read.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>

#include "catalog/file_types.h"
#include "catalog/partition_info.h"

namespace ambrel {

// The six recovery modes; the number is the mode of the menus, the command
// line and the scan-state file.
enum class RecoveryMode : int {
  kAllFiles = 1,        // "Recovery all file"
  kDeletedFiles = 2,    // "Recovery del file": free space only
  kPartitionFiles = 3,  // "Recovery part file"
  kUsbFiles = 4,        // "Recovery usb file"
  kRecycledFiles = 5,   // "Recovery recycle file": free space only
  kDiskFiles = 6,       // "Recovery disk file"
};
constexpr int ModeNumber(RecoveryMode mode) { return static_cast<int>(mode); }
// A number of 1 to 6 as its mode; any other as kDiskFiles (the whole device).
constexpr RecoveryMode ModeFromNumber(int number) {
  return number >= 1 && number <= 6 ? static_cast<RecoveryMode>(number) : RecoveryMode::kDiskFiles;
}

inline bool IsFreeSpaceMode(RecoveryMode mode) {
  return mode == RecoveryMode::kDeletedFiles || mode == RecoveryMode::kRecycledFiles;
}

// Option bytes are numbered 32..42 as the dialog and the organisation name
// them. A value of 2 marks an option the dialog must not change.
enum ScanOption : int {
  kOptClusterAligned = 32,
  kOptSearchFat = 34,
  kOptSearchNtfs = 35,
  kOptSearchExfat = 36,
  kOptDropCarvedDuplicates = 41,
  kOptLiveResults = 42,
};

struct DeepScanSettings {
  std::uint64_t partStart = 0;
  std::uint64_t partSectors = 0;
  std::uint64_t priorityStart = 0;
  std::uint64_t priorityLength = 0;  // 0: no priority range
  std::array<std::uint8_t, 11> options{};  // bytes 32..42
  // Type codes the user left out on the file page (none: every type is
  // searched); carved files of these types are dropped from the results.
  std::bitset<kTypeSlots> typesLeftOut;

  bool TypeSelected(std::uint32_t code) const {
    return code >= typesLeftOut.size() || !typesLeftOut.test(code);
  }

  std::uint8_t Option(int number) const { return options[static_cast<std::size_t>(number - 32)]; }
  void SetOption(int number, std::uint8_t v) { options[static_cast<std::size_t>(number - 32)] = v; }
  bool On(int number) const { return Option(number) != 0; }
};

// The defaults of a first scan of `partition` in `mode`.
DeepScanSettings DefaultScanSettings(const PartitionInfo& partition, RecoveryMode mode);
// A later scan keeps the options of `previous`, takes the new partition's
// area and drops a priority range that does not lie inside it.
DeepScanSettings NextScanSettings(const DeepScanSettings& previous, const PartitionInfo& partition);

// Modes 2 and 5 need a file system with a cluster geometry; otherwise the
// scan runs as mode 3 over the whole partition.
RecoveryMode EffectiveScanMode(const PartitionInfo& partition, RecoveryMode mode);

// A whole disk (start 0, every sector) above 75 GiB (fixed) or 400 GiB
// (removable): gets the one-chunk-per-GiB probes and the hints.
bool IsLargeWholeDisk(const PartitionInfo& partition);

}  // namespace ambrel
