// What a full deep scan plugs into its session: the signature carver and
// the organisation of the results. The front end creates one per scan,
// passes it in the scan's environment and takes the results after Join.
#pragma once

#include <memory>
#include <vector>

#include "deepscan/carve/signature_carver.h"
#include "deepscan/organise/result_organiser.h"
#include "deepscan/scan_session.h"

namespace ambrel {

class DeepScanExtensions final : public ScanExtensions {
 public:
  // `live`: the catalogue that receives results while the scan runs (the
  // liveResults option); may be null.
  explicit DeepScanExtensions(FoundFileCatalog* live = nullptr) : carver_(live), organiser_(live) {}
  bool DetectSignature(const ChunkData& chunk, std::uint32_t index, std::uint64_t lba,
                       ChunkHitBuilder& out, SectorHitSource& disk) override;
  bool InKnownMftExtent(std::uint64_t lba) override;
  void AfterChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                  SectorHitSource& disk) override;
  void AddRealPartitions(ScanSession& session) override;
  bool OrganiseResults(ScanSession& session) override;
  // The organised partitions (real, lost, rebuilt, found files), in order;
  // after the scan's Join.
  std::vector<std::unique_ptr<PartitionInfo>> TakeResults();
  SignatureCarver& Carver() { return carver_; }

 private:
  SignatureCarver carver_;
  ResultOrganiser organiser_;
};

}  // namespace ambrel
