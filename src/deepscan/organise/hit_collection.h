// The hits the organisation works on: those of the scanned area, in LBA
// order, without the kinds the settings do not search for.
#pragma once

#include <cstdint>
#include <vector>

#include "deepscan/free_space.h"
#include "deepscan/scan_hit.h"
#include "deepscan/scan_settings.h"
#include "fs/fat/fat32_high_words.h"

namespace ambrel {

class ScanSession;

// Whether a hit of the scanned area is organised: inside [start, start +
// sectors) (modes 2 and 5: the end included, and a signature hit only in a
// free cluster, on a cluster boundary when clusterAligned is set), and of a
// kind the settings search for. Dead hits never are.
bool OrganisedHit(const ScanHit& hit, std::uint64_t start, std::uint64_t sectors, RecoveryMode mode,
                  const DeepScanSettings& settings, const FreeSpaceMap* free);

// The organised hits of every chunk, in chunk order and LBA order within it.
std::vector<ScanHit*> CollectOrganisedHits(ScanSession& session);
std::vector<ScanHit*> CollectOrganisedHits(std::vector<HitList>& chunks, std::uint64_t start,
                                           std::uint64_t sectors, RecoveryMode mode,
                                           const DeepScanSettings& settings, const FreeSpaceMap* free);

// The sector kinds 221..236 among them (FILE records excluded).
std::vector<ScanHit*> SectorKindHits(const std::vector<ScanHit*>& hits);
// What the FAT32 reader takes from a completed scan: signature and FAT
// directory hits with their kinds.
std::vector<ClusterKindHit> ClusterKindHitsOf(const std::vector<ScanHit*>& hits);

}  // namespace ambrel
