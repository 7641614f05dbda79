// What the parses of one task share: the directory starts read so far (a
// deep scan reads each directory once across the volumes it parses, and
// its organisation skips the ones a reader already took), the NTFS extents
// already accounted for, and the hits of the task's completed deep scan
// (the FAT32 reader rebuilds the high words of deleted entries from them).
// Owned by the task; two tasks never share one.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "fs/fat/fat32_high_words.h"
#include "fs/ntfs/ntfs_known_extents.h"
#include "fs/orphan_folders.h"

namespace ambrel {

struct ParseContext {
  std::unordered_set<std::uint64_t> visitedDirectories;
  KnownExtents known;
  bool scanCompleted = false;
  std::vector<ClusterKindHit> scanHits;
  // Whether the FAT and exFAT readers list the folders their walk did not
  // reach, found in the free clusters (a listing asks; a scan has its own).
  OrphanFolderSearch orphanFolders = OrphanFolderSearch::kOff;

  // Before a new scan: nothing visited, nothing known, no hits.
  void Reset() {
    visitedDirectories.clear();
    known.Reset();
    scanCompleted = false;
    scanHits.clear();
  }
};

}  // namespace ambrel
