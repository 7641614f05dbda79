// The extents of one task's NTFS parses that its deep scan consults: the
// MFT and MFT-mirror extents of every NTFS partition read so far, and the
// $INDEX_ALLOCATION extents of every directory record parsed. A FILE
// record or an index block inside them is already accounted for.
//
// Threads: the partition readers append from their worker thread; the deep
// scan's threads read. Every operation takes the object's lock for the
// copy or the lookup, so readers and writers may overlap.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "fs/data_extent.h"

namespace ambrel {

struct IndexExtent {
  std::uint64_t startSector = 0;
  std::uint64_t sectorCount = 0;
};

// At most kMaxKnownIndexExtents are kept; later ones are dropped.
inline constexpr std::size_t kMaxKnownIndexExtents = 1u << 20;

class KnownExtents {
 public:
  // Adds the extents unless one of them (same start and count) is already
  // known, in which case nothing is added; true when they were added.
  bool RegisterMft(const ExtentList& extents);
  bool InMft(std::uint64_t lba) const;
  ExtentList Mft() const;

  void AddIndex(std::uint64_t startSector, std::uint64_t sectorCount);
  bool InIndex(std::uint64_t lba) const;
  std::vector<IndexExtent> Index() const;

  // Empties both lists (before a new scan).
  void Reset();

 private:
  mutable std::mutex lock_;
  ExtentList mft_;
  std::vector<IndexExtent> index_;
};

}  // namespace ambrel
