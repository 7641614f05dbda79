// The steps that put results in front of the user while the scan runs
// (the liveResults option): the volumes of the scanned area before the
// first chunk, and a partition for each boot sector as soon as it is seen.
#include <algorithm>

#include "catalog/found_file_catalog.h"
#include "deepscan/organise/boot_sector_rebuild.h"
#include "deepscan/organise/result_organiser.h"
#include "deepscan/scan_session.h"
#include "fs/fat/fat32_high_words.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_known_extents.h"

namespace ambrel {
namespace {

bool LiveBootKind(std::uint8_t kind) {
  return kind == kHitNtfsBoot || kind == kHitFat16Boot || kind == kHitFat32Boot ||
         kind == kHitExfatBoot;
}

}  // namespace

void ResultOrganiser::AddLive(ScanSession& session, std::unique_ptr<PartitionInfo> partition) {
  if (!partition) return;
  PartitionInfo layout;
  layout.fsKind = partition->fsKind;
  layout.startLba = partition->startLba;
  layout.sectorCount = partition->sectorCount;
  layout.bootSector = partition->bootSector;
  layout.origin = partition->origin;
  liveVolumes_.push_back(std::move(layout));
  if (auto later = LaterVolume::Of(*partition)) liveAllocations_.push_back(std::move(later));
  if (live_)
    live_->AddPartition(std::move(partition), session.StateWord(), true);
  else
    liveAdded_.push_back(std::move(partition));
}

void ResultOrganiser::AddRealPartitions(ScanSession& session) {
  parses_.Reset();
  extentsOfThisScan_ = true;
  readDirectories_.clear();
  exfatDirectories_ = SectorRanges{};
  liveVolumes_.clear();
  liveAllocations_.clear();
  listedRuns_.clear();
  listedFiles_.clear();
  PartitionList views;
  CollectRealPartitions(session, views);
  for (auto& view : views) AddLive(session, std::move(view));
  // The boot sectors of a saved scan's hits, as if they had just been seen.
  std::vector<const ScanHit*> loaded;
  for (HitList& list : session.ChunkHitsForOrganisation())
    for (const ScanHit& hit : list)
      if (LiveBootKind(hit.kind) && hit.sector) loaded.push_back(&hit);
  for (const ScanHit* hit : loaded) LiveBootSector(session, *hit);
}

void ResultOrganiser::LiveBootSector(ScanSession& session, const ScanHit& hit) {
  const PartitionInfo& scanned = session.Partition();
  if (IsFreeSpaceMode(session.Mode()) && !session.FreeSpace().IsFreeSector(hit.lba)) return;
  DiskHandle disk;
  if (!hit.sector || !session.Environment().open(scanned, disk)) return;
  auto p = std::make_unique<PartitionInfo>();
  if (!BuildFromBootSector(disk, ByteSpan(hit.sector->data(), hit.sector->size()), hit.lba, *p)) return;
  disk.Close();
  if (p->startLba < scanned.startLba || p->startLba - scanned.startLba > scanned.sectorCount) return;
  if (!session.IsNewPartitionStart(p->startLba)) return;
  GiveDiskFacts(scanned, *p);
  Parse(session, *p);
  AddLive(session, std::move(p));
}

void ResultOrganiser::AfterChunk(ScanSession& session, const ChunkData&, HitList& hits,
                                 SectorHitSource&) {
  if (!session.Settings().On(kOptLiveResults)) return;
  for (const ScanHit& hit : hits)
    if (LiveBootKind(hit.kind) && hit.sector) LiveBootSector(session, hit);
}

}  // namespace ambrel
