#include "deepscan/organise/result_organiser.h"

namespace ambrel {

void ResultOrganiser::AddRealPartitions(ScanSession&) {}

bool ResultOrganiser::InKnownMftExtent(std::uint64_t) { return false; }

void ResultOrganiser::AfterChunk(ScanSession&, const ChunkData&, HitList&, SectorHitSource&) {}

bool ResultOrganiser::OrganiseResults(ScanSession&) { return false; }

}  // namespace ambrel
