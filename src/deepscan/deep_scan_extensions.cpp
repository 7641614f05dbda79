#include "deepscan/deep_scan_extensions.h"

#include <algorithm>

#include "deepscan/found_files.h"

namespace ambrel {
namespace {

bool HasFoundFiles(const std::vector<std::unique_ptr<PartitionInfo>>& results) {
  return std::any_of(results.begin(), results.end(),
                     [](const auto& p) { return p && p->fsKind == kFsSignature; });
}

// A signature hit in modes 2 and 5 counts when it lies in free space and,
// with the clusterAligned option, starts a cluster.
bool InFreeCluster(const ScanSession& session, std::uint64_t lba) {
  const FreeSpaceMap& free = session.FreeSpace();
  if (!free.IsFreeSector(lba)) return false;
  if (!session.Settings().On(kOptClusterAligned) || free.SectorsPerCluster() == 0) return true;
  return lba >= free.DataStart() && (lba - free.DataStart()) % free.SectorsPerCluster() == 0;
}

// The hits of the scanned area in chunk order: signature hits (in modes 2
// and 5 only in free space, end inclusive) and the sector kinds that bound
// their gaps.
std::vector<ScanHit*> CollectCarveHits(ScanSession& session) {
  const PartitionInfo& p = session.Partition();
  const bool freeOnly = IsFreeSpaceMode(session.Mode());
  const std::uint64_t first = p.startLba;
  const std::uint64_t end = p.startLba + p.sectorCount + (freeOnly ? 1 : 0);
  std::vector<ScanHit*> hits;
  for (HitList& list : session.ChunkHitsForOrganisation()) {
    for (ScanHit& hit : list) {
      if (hit.lba < first || hit.lba >= end || !EndsGap(hit.kind) || hit.kind == kHitDead) continue;
      if (IsSignatureKind(hit.kind) && freeOnly && !InFreeCluster(session, hit.lba)) continue;
      hits.push_back(&hit);
    }
  }
  std::stable_sort(hits.begin(), hits.end(), [](const ScanHit* a, const ScanHit* b) { return a->lba < b->lba; });
  return hits;
}

}  // namespace

std::unique_ptr<PartitionInfo> CarvedFilesOfScan(ScanSession& session,
                                                 const std::vector<std::unique_ptr<PartitionInfo>>& found) {
  std::vector<ScanHit*> hits = CollectCarveHits(session);
  const FreeSpaceMap* free = IsFreeSpaceMode(session.Mode()) ? &session.FreeSpace() : nullptr;
  ApplyGapSizes(hits, session.Partition(), free);
  return BuildFoundFilesPartition(hits, found, session.Settings(), session.Partition());
}

bool DeepScanExtensions::DetectSignature(const ChunkData& chunk, std::uint32_t index,
                                         std::uint64_t lba, ChunkHitBuilder& out,
                                         SectorHitSource& disk) {
  return carver_.Detect(chunk, index, lba, out, disk);
}

bool DeepScanExtensions::InKnownMftExtent(std::uint64_t lba) {
  return organiser_.InKnownMftExtent(lba);
}

void DeepScanExtensions::AfterChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                                    SectorHitSource& disk) {
  carver_.AfterChunk(session, chunk, hits, disk);
  organiser_.AfterChunk(session, chunk, hits, disk);
}

void DeepScanExtensions::AddRealPartitions(ScanSession& session) {
  organiser_.AddRealPartitions(session);
}

bool DeepScanExtensions::OrganiseResults(ScanSession& session) {
  carver_.EndOfScan();
  const bool organised = organiser_.OrganiseResults(session);
  auto& results = organiser_.Results();
  // The carved files are part of every organised result; when the
  // organisation gave none (no organiser step for them), they are built here.
  if (!HasFoundFiles(results))
    if (auto found = CarvedFilesOfScan(session, results)) results.push_back(std::move(found));
  return organised || !results.empty();
}

std::vector<std::unique_ptr<PartitionInfo>> DeepScanExtensions::TakeResults() {
  return std::move(organiser_.Results());
}

}  // namespace ambrel
