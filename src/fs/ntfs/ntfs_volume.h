// Reading the MFT's own structures from a device: records with fixups, the
// MFT and MFT-mirror extents, the volume label and the deep scan's check of
// a candidate boot sector. Called on the worker thread that owns the handle.
#pragma once

#include <cstdint>
#include <vector>

#include "device/disk_handle.h"
#include "catalog/partition_info.h"
#include "fs/data_extent.h"

namespace ambrel {

// Reads `count` records of `recordBytes` (a multiple of 512) at `lba` with
// one read and applies the fixups to each record, whether or not the read
// succeeded. Returns the read's result. At most 4 MiB per call; more, or a
// record size that is not whole sectors, fails without touching the buffer.
bool ReadMftRecords(DiskHandle& handle, std::uint64_t lba, std::uint32_t count, std::uint32_t recordBytes,
                    std::uint8_t* buffer);

// One record read on its own: what came of it.
enum class RecordRead : std::uint8_t { kOk, kUnreadable, kTorn, kNoSequence };
// Reads the record of `recordBytes` at `lba` into `record` (resized to it)
// and applies its fixups.
RecordRead ReadMftRecord(DiskHandle& handle, std::uint64_t lba, std::uint32_t recordBytes,
                         std::vector<std::uint8_t>& record);

// The extents of the MFT from record 0's first (non-resident) $DATA; when
// that fails, from the mirror's copy of record 0.
bool LoadMftExtents(DiskHandle& handle, const PartitionInfo& partition, ExtentList& extents);
// The same on record 1: the extents of the MFT mirror file.
bool LoadMftMirrorExtents(DiskHandle& handle, const PartitionInfo& partition,
                          ExtentList& extents);

// Stores the $VOLUME_NAME of record 3 (at most 259 characters) as the
// partition's label; true when it is not empty.
bool ReadNtfsVolumeLabel(DiskHandle& handle, PartitionInfo& partition);

// Reads the first 256 records at the candidate's MFT position and counts
// those carrying their own index as record number; true when more than 64 do.
bool CheckMftConsistency(const BootSector& bootSector, DiskHandle& handle, std::uint64_t startLba);

}  // namespace ambrel
