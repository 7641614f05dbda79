// The carved files of each analysed chunk, added to the catalogue's
// found-files slot while the scan runs (the liveResults option).
#pragma once

#include <cstdint>
#include <functional>
#include <set>

#include "deepscan/scan_hit.h"
#include "deepscan/sector_hit.h"

namespace ambrel {

class FoundFileCatalog;
class ScanSession;

// Sizes the signature hits of the chunk (`hits`, not yet stored) with their
// gap sizes, measured with the last hit of the previous chunk and the first
// hit of the next one when those chunks were analysed, and adds them
// through AddFoundFile. The last hit of a chunk whose successor was not
// analysed yet waits for it (unless its size is known). `added` holds the
// LBAs already added; `isLiveFileStart` (may be empty) names the first
// sectors of files of partitions added live, which are not repeated.
void LiveCarvedFiles(ScanSession& session, const ChunkData& chunk, const HitList& hits,
                     FoundFileCatalog& catalog, std::set<std::uint64_t>& added,
                     const std::function<bool(std::uint64_t)>& isLiveFileStart);

}  // namespace ambrel
