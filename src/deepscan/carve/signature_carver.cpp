#include "deepscan/carve/signature_carver.h"

#include "deepscan/carve/live_carved_files.h"
#include "deepscan/carve/signature_detect.h"
#include "deepscan/scan_session.h"

namespace ambrel {
namespace {

constexpr std::size_t kSector = 512;

void StoreResult(ScanHit& hit, const CarveState& state) {
  hit.kind = static_cast<std::uint8_t>(state.type);
  hit.status = static_cast<std::uint8_t>(state.result);
  const std::uint64_t size = state.result == kRuleSized ? state.size : 0;
  hit.aux1 = static_cast<std::uint32_t>(size);
  hit.aux2 = static_cast<std::uint32_t>(size >> 32);
}

bool UpdateIn(HitList& hits, const CarveState& state) {
  for (ScanHit& hit : hits) {
    if (hit.lba == state.fileLba && hit.kind == state.hitKind) {
      StoreResult(hit, state);
      return true;
    }
  }
  return false;
}

}  // namespace

CarveInput SignatureCarver::InputFor(const ChunkData& chunk, SectorHitSource& disk) {
  CarveInput in;
  in.chunk = chunk;
  in.disk = &disk;
  in.areaEndLba = areaEndLba_;
  in.scratch = &scratch_;
  return in;
}

bool SignatureCarver::Detect(const ChunkData& chunk, std::uint32_t index, std::uint64_t lba,
                             ChunkHitBuilder& out, SectorHitSource& disk) {
  const auto sector = ByteCursor(chunk.bytes).Sub(std::uint64_t{index} * kSector, kSector);
  if (!sector) return false;
  const auto match = DetectSignature(sector->span());
  if (!match) return false;
  CarveState state;
  state.type = match->type;
  state.unit = match->unit;
  state.fileLba = lba;
  const CarveInput in = InputFor(chunk, disk);
  if (SizeRule(state, in) == kRulePending) {
    state.hitKind = static_cast<std::uint8_t>(state.type);
    pending_.AddPending(state);
  }
  ScanHit hit;
  hit.lba = lba;
  StoreResult(hit, state);
  out.hits.push_back(std::move(hit));
  return true;
}

void SignatureCarver::Finish(ScanSession& session, const ChunkData& chunk, HitList& hits,
                             const CarveState& state) {
  const std::uint64_t hitChunk = state.fileLba >> kChunkShift;
  if (hitChunk == (chunk.firstLba >> kChunkShift)) {
    UpdateIn(hits, state);
    return;
  }
  session.UpdateChunkHits(hitChunk, [&](HitList& stored) { UpdateIn(stored, state); });
}

void SignatureCarver::ContinuePending(ScanSession& session, const ChunkData& chunk, HitList& hits,
                                      SectorHitSource& disk, bool everyEntry) {
  const std::uint64_t first = chunk.firstLba, last = chunk.firstLba + kChunkSectors - 1;
  if (!everyEntry && !pending_.Overlaps(first, last)) return;
  const CarveInput in = InputFor(chunk, disk);
  std::vector<CarveState> due = everyEntry ? pending_.TakeAll() : pending_.TakeOverlapping(first, last);
  for (CarveState& state : due) {
    const int result = SizeRule(state, in);
    if (result == kRulePending) {
      // Kept while its window stays within the limits; else the file gets
      // its gap size.
      pending_.AddPending(state);
      continue;
    }
    Finish(session, chunk, hits, state);
  }
}

void SignatureCarver::AfterChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                                 SectorHitSource& disk) {
  bool everyEntry = false;
  if (!areaKnown_) {
    // The rules of the first chunk ran without the area's end: run them
    // again now that it is known.
    SetAreaEnd(session.Partition().startLba + session.Partition().sectorCount);
    everyEntry = true;
  }
  ContinuePending(session, chunk, hits, disk, everyEntry);
  if (live_ && session.Settings().On(kOptLiveResults))
    LiveCarvedFiles(session, chunk, hits, *live_, liveAdded_, isLiveFileStart_);
}

}  // namespace ambrel
