// The two process-wide lists the deep scan consults: the MFT and MFT-mirror
// extents of every NTFS partition read so far (KnownMftExtents), and the
// $INDEX_ALLOCATION extents of every directory record parsed
// (KnownIndexExtents).
//
// Threads: the partition readers append from their worker thread; the deep
// scan's threads read. Every operation takes one lock for the copy or the
// lookup, so readers and writers may overlap.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "fs/data_extent.h"

namespace ambrel {

struct IndexExtent {
  std::uint64_t startSector = 0;
  std::uint64_t sectorCount = 0;
};

// Adds the extents unless one of them (same start and count) is already
// known, in which case nothing is added. Each added extent is also passed to
// the listener (the deep scan's chunk map drops its FILE-record hits there).
void RegisterMftExtents(const ExtentList& extents);
using MftExtentListener = std::function<void(const DataExtent&)>;
void SetMftExtentListener(MftExtentListener listener);

bool LbaInKnownMftExtents(std::uint64_t lba);
ExtentList KnownMftExtents();

// At most kMaxKnownIndexExtents are kept; later ones are dropped.
inline constexpr std::size_t kMaxKnownIndexExtents = 1u << 20;
void AddKnownIndexExtent(std::uint64_t startSector, std::uint64_t sectorCount);
bool LbaInKnownIndexExtents(std::uint64_t lba);
std::vector<IndexExtent> KnownIndexExtents();

// Empties both lists (before a new scan).
void ResetKnownExtents();

}  // namespace ambrel
