#include "deepscan/carve/live_carved_files.h"

#include <optional>
#include <vector>

#include "catalog/found_file_catalog.h"
#include "deepscan/found_files.h"
#include "deepscan/scan_session.h"

namespace ambrel {
namespace {

// A copy of the fields that sizing and naming use (no payloads).
ScanHit Bare(const ScanHit& hit) {
  ScanHit copy;
  copy.kind = hit.kind;
  copy.status = hit.status;
  copy.lba = hit.lba;
  copy.aux1 = hit.aux1;
  copy.aux2 = hit.aux2;
  return copy;
}

bool Analysed(const ScanSession& session, std::uint64_t chunk) {
  return chunk < session.ChunkCount() && session.ChunkStateOf(chunk) == ChunkState::kAnalysed;
}

bool InScanned(const ScanSession& session, std::uint64_t lba) {
  const PartitionInfo& p = session.Partition();
  return lba >= p.startLba && lba < p.startLba + p.sectorCount;
}

// The last (or first) hit of a stored chunk that bounds a gap.
std::optional<ScanHit> EdgeHit(ScanSession& session, std::uint64_t chunk, bool last) {
  std::optional<ScanHit> edge;
  session.UpdateChunkHits(chunk, [&](HitList& stored) {
    if (last) {
      for (auto it = stored.rbegin(); it != stored.rend(); ++it)
        if (EndsGap(it->kind)) { edge = Bare(*it); break; }
    } else {
      for (const ScanHit& h : stored)
        if (EndsGap(h.kind)) { edge = Bare(h); break; }
    }
  });
  if (edge && !InScanned(session, edge->lba)) edge.reset();
  return edge;
}

bool Wanted(const ScanSession& session, const ScanHit& hit) {
  if (!IsSignatureKind(hit.kind) || hit.status == kStatusAbsorbed) return false;
  if (IsFreeSpaceMode(session.Mode()) && !session.FreeSpace().IsFreeSector(hit.lba)) return false;
  return InScanned(session, hit.lba);
}

}  // namespace

void LiveCarvedFiles(ScanSession& session, const ChunkData& chunk, const HitList& hits,
                     FoundFileCatalog& catalog, std::set<std::uint64_t>& added,
                     const std::function<bool(std::uint64_t)>& isLiveFileStart) {
  const std::uint64_t number = chunk.firstLba >> kChunkShift;
  std::vector<ScanHit> list;
  if (number > 0 && Analysed(session, number - 1))
    if (auto previous = EdgeHit(session, number - 1, true)) list.push_back(std::move(*previous));
  const std::size_t firstOwn = list.size();
  for (const ScanHit& hit : hits)
    if (EndsGap(hit.kind)) list.push_back(Bare(hit));
  const std::size_t ownEnd = list.size();
  const bool nextAnalysed = Analysed(session, number + 1);
  if (nextAnalysed)
    if (auto next = EdgeHit(session, number + 1, false)) list.push_back(std::move(*next));
  std::vector<ScanHit*> pointers;
  for (ScanHit& h : list) pointers.push_back(&h);
  const PartitionInfo& area = session.Partition();
  const bool atAreaEnd = chunk.firstLba + kChunkSectors >= area.startLba + area.sectorCount;
  const FreeSpaceMap* free = IsFreeSpaceMode(session.Mode()) ? &session.FreeSpace() : nullptr;
  for (std::size_t i = 0; i < ownEnd; ++i) {
    const ScanHit& hit = list[i];
    if (!Wanted(session, hit) || added.count(hit.lba)) continue;
    if (isLiveFileStart && isLiveFileStart(hit.lba)) continue;
    // The chunk's last hit is measured once the next chunk is analysed.
    const bool lastOwn = i + 1 == ownEnd && i >= firstOwn;
    if (lastOwn && !nextAnalysed && !atAreaEnd && hit.status != kStatusSized) continue;
    const std::uint64_t size = hit.status == kStatusSized ? hit.Size()
                                                           : GapSize(pointers, i, session.Partition(), free);
    if (catalog.AddFoundFile(CarvedFileNode(hit, size), CarvedFileName(hit.lba, hit.kind))) added.insert(hit.lba);
  }
}

}  // namespace ambrel
