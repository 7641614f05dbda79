// Rebuilding an NTFS directory tree from FILE records found anywhere on a
// disk by the deep scan (the partition's boot sector and MFT extents may be
// lost). Runs on the deep scan's organising thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/progress.h"
#include "device/disk_handle.h"
#include "catalog/partition_info.h"

namespace ambrel {

// One FILE record found by the scan: where it lies and the record number its
// header carries.
struct FileRecordHit {
  std::uint64_t lba = 0;
  std::uint32_t recordNumber = 0;
};

// Source marker of a partition record built by the scan.
inline constexpr std::uint32_t kPartitionBuiltByScan = 2;

// Reads each hit's record (`recordBytes`, fixups), parses it and adds the
// named nodes to a new NTFS partition record (start `startLba`, unbounded
// size, `spc` sectors per cluster, that record size), links the tree and
// appends the partition to `partitions`. A record that fails its update-
// sequence check is added with its data marked torn. Counts directories in
// `progress` and publishes it. Returns false (nothing appended) for an
// invalid `spc` or record size.
bool BuildNtfsTreeFromRecords(std::vector<PartitionInfo>& partitions, ScanProgress& progress,
                              DiskHandle& handle, const std::string& displayName,
                              const std::vector<FileRecordHit>& hits, std::uint64_t startLba,
                              std::uint32_t hiWord, std::uint32_t spc, std::uint32_t recordBytes = 1024);

}  // namespace ambrel
