#include "deepscan/deep_scan_extensions.h"

namespace ambrel {

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
  // Pending sizes that no later chunk finished keep status 3: the
  // organisation gives them their gap sizes.
  carver_.EndOfScan();
  return organiser_.OrganiseResults(session);
}

std::vector<std::unique_ptr<PartitionInfo>> DeepScanExtensions::TakeResults() {
  return std::move(organiser_.Results());
}

}  // namespace ambrel
