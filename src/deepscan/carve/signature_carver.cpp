#include "deepscan/carve/signature_carver.h"

namespace ambrel {

bool SignatureCarver::Detect(const ChunkData&, std::uint32_t, std::uint64_t, ChunkHitBuilder&,
                             SectorHitSource&) {
  return false;
}

void SignatureCarver::AfterChunk(ScanSession&, const ChunkData&, HitList&, SectorHitSource&) {}

}  // namespace ambrel
