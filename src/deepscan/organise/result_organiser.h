// The organisation of one scan's results: the real partitions of the
// scanned area, lost partitions rebuilt from partition tables, boot
// sectors and MFT runs, trees from loose records, the found-files
// pseudo-partition; and the same steps live while the scan runs.
// Every method runs on the hand thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "catalog/partition_info.h"
#include "deepscan/scan_hit.h"
#include "deepscan/sector_hit.h"

namespace ambrel {

class FoundFileCatalog;
class ScanSession;

class ResultOrganiser {
 public:
  // `live`: the catalogue that receives results while the scan runs (with
  // the liveResults option); may be null.
  explicit ResultOrganiser(FoundFileCatalog* live) : live_(live) {}
  // "Add real part info": the volumes of the scanned area, before the
  // first chunk.
  void AddRealPartitions(ScanSession& session);
  bool InKnownMftExtent(std::uint64_t lba);
  // The live steps after a chunk (boot sectors, FILE-record runs).
  void AfterChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                  SectorHitSource& disk);
  // The end-of-scan organisation; true when the result list is not empty.
  bool OrganiseResults(ScanSession& session);
  std::vector<std::unique_ptr<PartitionInfo>>& Results() { return results_; }

 private:
  FoundFileCatalog* live_ = nullptr;
  std::vector<std::unique_ptr<PartitionInfo>> results_;
};

}  // namespace ambrel
