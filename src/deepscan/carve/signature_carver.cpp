#include "deepscan/carve/signature_carver.h"

#include <algorithm>
#include <array>

#include "deepscan/carve/carve_units.h"
#include "deepscan/carve/live_carved_files.h"
#include "deepscan/carve/signature_detect.h"
#include "deepscan/scan_session.h"

namespace ambrel {
namespace {

constexpr std::size_t kSector = 512;

void StoreResult(ScanHit& hit, const CarveState& state) {
  hit.kind = static_cast<std::uint8_t>(state.type);
  hit.status = StatusOf(state.result);
  const std::uint64_t size = state.result == RuleResult::kSized ? state.size : 0;
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

void SignatureCarver::NoteClaim(const CarveState& state) {
  const auto& table = CarveUnitTable();
  Claim claim;
  claim.first = state.fileLba;
  claim.kind = static_cast<std::uint8_t>(state.type);
  if (state.result == RuleResult::kSized) {
    claim.end = state.fileLba + (state.size + 511) / 512;
    claim.sized = true;
  } else if (state.result == RuleResult::kPending && state.unit < table.size() &&
             (table[state.unit].flags & kUnitStream)) {
    claim.end = state.fileLba + state.offset / 512;
  }
  if (claim.end <= claim.first) return;
  // A stream's claim grows as its walk goes on.
  for (Claim& c : claims_) {
    if (c.first == claim.first && c.kind == claim.kind) {
      c = claim;
      return;
    }
  }
  claims_.push_back(claim);
}

bool SignatureCarver::Claimed(std::uint16_t unit, std::uint8_t kind, std::uint64_t lba) const {
  const auto& table = CarveUnitTable();
  if (unit >= table.size()) return false;
  const std::uint8_t flags = table[unit].flags;
  if (!flags) return false;
  return std::any_of(claims_.begin(), claims_.end(), [&](const Claim& c) {
    if (lba <= c.first || lba >= c.end) return false;
    return ((flags & kUnitStream) && c.kind == kind) || ((flags & kUnitLoose) && c.sized);
  });
}

bool SignatureCarver::ContinuesPrevious(std::uint16_t unit, const ChunkData& chunk, std::uint32_t index,
                                        std::uint64_t lba, SectorHitSource& disk) {
  const auto& table = CarveUnitTable();
  if (unit >= table.size() || !table[unit].continues || lba == 0) return false;
  const auto sector = ByteCursor(chunk.bytes).Sub(std::uint64_t{index} * kSector, kSector);
  if (!sector) return false;
  if (index > 0) {
    const auto previous = ByteCursor(chunk.bytes).Sub(std::uint64_t{index - 1} * kSector, kSector);
    return previous && table[unit].continues(*previous, *sector);
  }
  std::array<std::uint8_t, kSector> bytes{};
  if (!disk.ReadDisk(lba - 1, 1, bytes.data())) return false;
  return table[unit].continues(ByteCursor(bytes.data(), bytes.size()), *sector);
}

void SignatureCarver::BeginChunk(const ChunkData& chunk, SectorHitSource& disk) {
  chunkLba_ = chunk.firstLba;
  std::erase_if(claims_, [&](const Claim& c) { return c.end <= chunk.firstLba; });
  const std::uint64_t first = chunk.firstLba, last = chunk.firstLba + kChunkSectors - 1;
  if (!pending_.Overlaps(first, last)) return;
  const CarveInput in = InputFor(chunk, disk);
  for (CarveState& state : pending_.TakeOverlapping(first, last)) {
    const RuleResult result = SizeRule(state, in);
    NoteClaim(state);
    // Kept while its window stays within the limits; else the file gets
    // its gap size.
    if (result == RuleResult::kPending && pending_.AddPending(state)) continue;
    finished_.push_back(state);
  }
}

bool SignatureCarver::Detect(const ChunkData& chunk, std::uint32_t index, std::uint64_t lba,
                             ChunkHitBuilder& out, SectorHitSource& disk) {
  if (chunk.firstLba != chunkLba_) BeginChunk(chunk, disk);
  const auto sector = ByteCursor(chunk.bytes).Sub(std::uint64_t{index} * kSector, kSector);
  if (!sector) return false;
  const auto match = DetectSignature(sector->span());
  if (!match) return false;
  if (ContinuesPrevious(match->unit, chunk, index, lba, disk)) return false;
  CarveState state;
  state.type = match->type;
  state.unit = match->unit;
  state.fileLba = lba;
  if (Claimed(match->unit, match->type, lba)) {
    // Text inside a file already sized is part of it; a packet or pack
    // inside a stream walked past it is part of that stream.
    if (CarveUnitTable()[match->unit].flags & kUnitLoose) return false;
    state.result = RuleResult::kInvalid;
  } else {
    const CarveInput in = InputFor(chunk, disk);
    if (SizeRule(state, in) == RuleResult::kPending) {
      state.hitKind = static_cast<std::uint8_t>(state.type);
      pending_.AddPending(state);
    }
    NoteClaim(state);
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
    const RuleResult result = SizeRule(state, in);
    NoteClaim(state);
    if (result == RuleResult::kPending) {
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
  // The sizes finished when the chunk began.
  for (const CarveState& state : finished_) Finish(session, chunk, hits, state);
  finished_.clear();
  ContinuePending(session, chunk, hits, disk, everyEntry);
  if (live_ && session.Settings().On(kOptLiveResults))
    LiveCarvedFiles(session, chunk, hits, *live_, liveAdded_, isLiveFileStart_);
}

}  // namespace ambrel
