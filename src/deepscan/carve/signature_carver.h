// The signature carver of one scan: recognises the first sector of a file
// of a known type, sizes it from its own structure, and keeps the sizes
// that wait for later chunks. Every method runs on the hand thread.
#pragma once

#include <cstdint>

#include "deepscan/scan_hit.h"
#include "deepscan/sector_hit.h"

namespace ambrel {

class ScanSession;

class SignatureCarver {
 public:
  // On a signature at sector `index` of the chunk, appends its hit (type
  // code, size rule result, size) and returns true.
  bool Detect(const ChunkData& chunk, std::uint32_t index, std::uint64_t lba,
              ChunkHitBuilder& out, SectorHitSource& disk);
  // After a chunk: finishes the pending sizes whose window it holds and
  // writes their results into the stored hits.
  void AfterChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                  SectorHitSource& disk);
};

}  // namespace ambrel
