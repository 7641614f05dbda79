// Retiring the hits that a file-system reader has already read: FILE and
// INDX records inside the MFT and index extents of parsed NTFS volumes, and
// FAT directory clusters the FAT reader walked. A range test over sorted,
// merged extents: the hits are never matched one extent at a time.
#pragma once

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "fs/ntfs/ntfs_known_extents.h"
#include "deepscan/scan_hit.h"

namespace ambrel {

class SectorRanges {
 public:
  void Add(std::uint64_t start, std::uint64_t count);
  // Sorts and merges what was added; call before Contains.
  void Seal();
  bool Contains(std::uint64_t lba) const;
  std::size_t size() const { return ranges_.size(); }

 private:
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges_;  // [first, end)
};

// The extents of every NTFS volume the task read so far (MFT, MFT mirror,
// indexes).
SectorRanges KnownNtfsRanges(const KnownExtents& known);

// Kinds 224, 225, 231 and 232 inside `ranges`, and FAT directory hits at a
// start in `directoryStarts`, become dead (238). Returns how many.
std::size_t RetireConsumedHits(const std::vector<ScanHit*>& hits, const SectorRanges& ranges,
                               const std::set<std::uint64_t>& directoryStarts);

}  // namespace ambrel
