// Reading the MFT's own structures from a device: records with fixups, the
// MFT and MFT-mirror extents, the volume label and the deep scan's check of
// a candidate boot sector. Called on the worker thread that owns the handle.
#pragma once

#include <cstdint>

#include "device/disk_handle.h"
#include "catalog/partition_info.h"
#include "fs/data_extent.h"

namespace ambrel {

// Reads `count` records (2 x count sectors) at `lba` with one read and
// applies the fixups to each record, whether or not the read succeeded.
// Returns the read's result. At most 4096 records (4 MiB) per call; a larger
// count fails without touching the buffer.
bool ReadMftRecords(DiskHandle& handle, std::uint64_t lba, std::uint32_t count,
                    std::uint8_t* buffer);

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
