#include "deepscan/organise/hit_collection.h"

#include <algorithm>

#include "deepscan/scan_session.h"

namespace ambrel {
namespace {

bool KindSearched(std::uint8_t kind, const DeepScanSettings& s) {
  if (kind == kHitNtfsBoot || kind == kHitFileRecord || kind == kHitIndxRecord)
    return s.On(kOptSearchNtfs);
  if (kind >= kHitFat16Boot && kind <= kHitFatRootDirectory) return s.On(kOptSearchFat);
  if (kind >= kHitExfatBoot && kind <= kHitExfatDirectory) return s.On(kOptSearchExfat);
  return true;
}

}  // namespace

bool OrganisedHit(const ScanHit& hit, std::uint64_t start, std::uint64_t sectors, RecoveryMode mode,
                  const DeepScanSettings& settings, const FreeSpaceMap* free) {
  if (hit.kind == kHitDead || hit.lba < start) return false;
  const std::uint64_t offset = hit.lba - start;
  const bool freeMode = IsFreeSpaceMode(mode);
  if (freeMode ? offset > sectors : offset >= sectors) return false;
  if (!KindSearched(hit.kind, settings)) return false;
  // Carved files of the types left out on the settings' file page.
  if (IsSignatureKind(hit.kind) && !settings.TypeSelected(hit.kind)) return false;
  if (freeMode && free && IsSignatureKind(hit.kind)) {
    if (!free->IsFreeSector(hit.lba)) return false;
    const std::uint32_t spc = free->SectorsPerCluster();
    if (settings.On(kOptClusterAligned) && spc != 0 &&
        (hit.lba < free->DataStart() || (hit.lba - free->DataStart()) % spc != 0))
      return false;
  }
  return true;
}

std::vector<ScanHit*> CollectOrganisedHits(std::vector<HitList>& chunks, std::uint64_t start,
                                           std::uint64_t sectors, RecoveryMode mode,
                                           const DeepScanSettings& settings, const FreeSpaceMap* free) {
  std::vector<ScanHit*> out;
  for (HitList& list : chunks) {
    const std::size_t first = out.size();
    for (ScanHit& hit : list)
      if (OrganisedHit(hit, start, sectors, mode, settings, free)) out.push_back(&hit);
    std::stable_sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
                     [](const ScanHit* a, const ScanHit* b) { return a->lba < b->lba; });
  }
  return out;
}

std::vector<ScanHit*> CollectOrganisedHits(ScanSession& session) {
  const PartitionInfo& scanned = session.Partition();
  const FreeSpaceMap* free = IsFreeSpaceMode(session.Mode()) ? &session.FreeSpace() : nullptr;
  return CollectOrganisedHits(session.ChunkHitsForOrganisation(), scanned.startLba,
                              scanned.sectorCount, session.Mode(), session.Settings(), free);
}

std::vector<ScanHit*> SectorKindHits(const std::vector<ScanHit*>& hits) {
  std::vector<ScanHit*> out;
  for (ScanHit* h : hits)
    if (IsSectorKind(h->kind) && h->kind != kHitFileRecord) out.push_back(h);
  return out;
}

std::vector<ClusterKindHit> ClusterKindHitsOf(const std::vector<ScanHit*>& hits) {
  std::vector<ClusterKindHit> out;
  for (const ScanHit* h : hits)
    if (IsSignatureKind(h->kind) || h->kind == kHitFatDirectory) out.push_back({h->lba, h->kind});
  return out;
}

}  // namespace ambrel
