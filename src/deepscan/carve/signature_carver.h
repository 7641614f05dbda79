// The signature carver of one scan: recognises the first sector of a file
// of a known type, sizes it from its own structure, and keeps the sizes
// that wait for later chunks. Every method runs on the hand thread.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "deepscan/carve/carve_state.h"
#include "deepscan/carve/pending_carves.h"
#include "deepscan/scan_hit.h"
#include "deepscan/sector_hit.h"

namespace ambrel {

class FoundFileCatalog;
class ScanSession;

class SignatureCarver {
 public:
  // `live`: the catalogue whose found-files slot receives the carved files
  // of every chunk while the scan runs (with the liveResults option).
  explicit SignatureCarver(FoundFileCatalog* live = nullptr) : live_(live) {}

  // On a signature at sector `index` of the chunk, appends its hit (type
  // code, size rule result, size) and returns true. The first call of a
  // chunk first carries on the sizes that wait for it, so that what they
  // learn about the chunk is known before its sectors are tested.
  bool Detect(const ChunkData& chunk, std::uint32_t index, std::uint64_t lba,
              ChunkHitBuilder& out, SectorHitSource& disk);
  // After a chunk: finishes the pending sizes whose window it holds and
  // writes their results into the stored hits; then the live carved files.
  void AfterChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                  SectorHitSource& disk);
  // The scan has ended: what still waits keeps status 3.
  void EndOfScan() {
    pending_.Clear();
    claims_.clear();
    chunkLba_ = ~std::uint64_t{0};
  }

  // The first sectors of files of partitions added live: a carved hit
  // there repeats such a file and is not added live.
  void SetLiveFileStartTest(std::function<bool(std::uint64_t)> test) { isLiveFileStart_ = std::move(test); }
  // The scanned area's end (first sector past it); known from the first
  // chunk on, or set before the scan.
  void SetAreaEnd(std::uint64_t lba) { areaEndLba_ = lba; areaKnown_ = true; }
  const PendingCarves& Pending() const { return pending_; }

 private:
  // A stretch of the disk known to belong to one file: a file of known
  // size, or the part a stream's walk has passed.
  struct Claim {
    std::uint64_t first = 0, end = 0;  // sectors [first, end)
    std::uint8_t kind = 0;
    bool sized = false;
  };

  CarveInput InputFor(const ChunkData& chunk, SectorHitSource& disk);
  void BeginChunk(const ChunkData& chunk, SectorHitSource& disk);
  void NoteClaim(const CarveState& state);
  // Whether the hit of `unit` at `lba` belongs to a file already claimed.
  bool Claimed(std::uint16_t unit, std::uint8_t kind, std::uint64_t lba) const;
  bool ContinuesPrevious(std::uint16_t unit, const ChunkData& chunk, std::uint32_t index,
                         std::uint64_t lba, SectorHitSource& disk);
  void ContinuePending(ScanSession& session, const ChunkData& chunk, HitList& hits,
                       SectorHitSource& disk, bool everyEntry);
  void Finish(ScanSession& session, const ChunkData& chunk, HitList& hits, const CarveState& state);

  FoundFileCatalog* live_ = nullptr;
  PendingCarves pending_;
  // Sizes finished at the start of a chunk, stored into their hits after it.
  std::vector<CarveState> finished_;
  std::vector<Claim> claims_;
  std::uint64_t chunkLba_ = ~std::uint64_t{0};
  std::uint64_t areaEndLba_ = CarveInput{}.areaEndLba;
  bool areaKnown_ = false;
  std::vector<std::uint8_t> scratch_;
  std::set<std::uint64_t> liveAdded_;
  std::function<bool(std::uint64_t)> isLiveFileStart_;
};

}  // namespace ambrel
