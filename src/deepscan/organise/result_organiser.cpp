// The end-of-scan organisation, step by step in the order the results
// depend on each other: volumes read first claim their structures, so
// that later paths find their starts known and their records consumed.
#include "deepscan/organise/result_organiser.h"

#include <algorithm>
#include <iterator>

#include "app/progress.h"
#include "app/settings.h"
#include "catalog/found_file_catalog.h"
#include "catalog/node_table.h"
#include "deepscan/found_files.h"
#include "deepscan/organise/boot_sector_rebuild.h"
#include "deepscan/organise/consumed_hits.h"
#include "deepscan/organise/exfat_volumes.h"
#include "deepscan/organise/fat_directory_trees.h"
#include "deepscan/organise/hit_collection.h"
#include "deepscan/organise/mft_run_rebuild.h"
#include "deepscan/organise/orphan_records.h"
#include "deepscan/organise/partition_views.h"
#include "deepscan/organise/real_volumes.h"
#include "deepscan/scan_session.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/fat/fat32_high_words.h"
#include "fs/fat/fat_reader.h"
#include "fs/ntfs/ntfs_known_extents.h"
#include "fs/parse_file_system.h"

namespace ambrel {
namespace {

constexpr std::size_t kMinLooseRecords = 9;
constexpr std::uint64_t kLowStartSlack = 0x400000;

bool HasStart(const std::vector<std::unique_ptr<PartitionInfo>>& list, std::uint64_t start) {
  return std::any_of(list.begin(), list.end(),
                     [start](const auto& p) { return p && p->startLba == start; });
}

bool KindSearched(const DeepScanSettings& s, std::int32_t kind) {
  switch (kind) {
    case kFsNtfs: return s.On(kOptSearchNtfs);
    case kFsFat16: case kFsFat32: return s.On(kOptSearchFat);
    case kFsExfat: return s.On(kOptSearchExfat);
    default: return true;
  }
}

std::unique_ptr<PartitionInfo> PartitionFromMftRun(const MftRunPlacement& placed) {
  auto p = std::make_unique<PartitionInfo>();
  p->fsKind = kFsNtfs;
  p->fsName = "NTFS";
  p->origin = kOriginMftRun;
  p->startLba = placed.start;
  p->sectorCount = kUnknownPartitionSize;
  p->bootSector[11] = 0x00;
  p->bootSector[12] = 0x02;  // 512 bytes per sector
  p->bootSector[13] = static_cast<std::uint8_t>(placed.spc);
  // The MFT and its mirror: the reader falls back to the mirror's copy of
  // record 0 when the MFT's first records are gone.
  for (int i = 0; i < 8; ++i) {
    p->bootSector[0x30 + i] = static_cast<std::uint8_t>(placed.mftCluster >> (8 * i));
    p->bootSector[0x38 + i] = static_cast<std::uint8_t>(placed.mirrorCluster >> (8 * i));
  }
  SetMftRecordBytes(p->bootSector, placed.recordSectors * 512);
  p->bootSector[510] = 0x55;
  p->bootSector[511] = 0xAA;
  return p;
}

// Lost partitions from the extended boot records (step 4) and the boot
// sectors (step 5), into `candidates`.
void CandidatesFromStructures(DiskHandle& disk, const std::vector<ScanHit*>& sectors,
                              std::vector<std::unique_ptr<PartitionInfo>>& candidates) {
  for (const ScanHit* h : sectors) {
    if (h->kind != kHitEbr || !h->sector) continue;
    const ByteSpan table(h->sector->data(), h->sector->size());
    for (unsigned i = 0; i < 4; ++i) {
      auto entry = UsableTableEntry(table, i);
      if (!entry || HasStart(candidates, h->lba + entry->start)) continue;
      auto p = std::make_unique<PartitionInfo>();
      if (BuildFromTableEntry(disk, h->lba, *entry, *p)) candidates.push_back(std::move(p));
    }
  }
  for (const ScanHit* h : sectors) {
    const bool boot = h->kind == kHitNtfsBoot || h->kind == kHitFat16Boot ||
                      h->kind == kHitFat32Boot || h->kind == kHitExfatBoot;
    if (!boot || !h->sector || HasStart(candidates, h->lba)) continue;
    auto p = std::make_unique<PartitionInfo>();
    if (BuildFromBootSector(disk, ByteSpan(h->sector->data(), h->sector->size()), h->lba, *p) &&
        !HasStart(candidates, p->startLba))
      candidates.push_back(std::move(p));
  }
}

std::vector<const ScanHit*> AliveOfKind(const std::vector<ScanHit*>& hits, std::uint8_t kind) {
  std::vector<const ScanHit*> out;
  for (const ScanHit* h : hits)
    if (h->kind == kind) out.push_back(h);
  return out;
}

}  // namespace

void ResultOrganiser::Step(ScanSession& session, const char* text) {
  steps_.emplace_back(text);
  PostNotice(kOrganiseTitle, text);  // into the scan's mailbox, bound on this thread
}

bool ResultOrganiser::InKnownMftExtent(std::uint64_t lba) {
  return extentsOfThisScan_ && parses_.known.InMft(lba);
}

bool ResultOrganiser::Parse(ScanSession& session, PartitionInfo& partition) {
  const bool ok = ParseFileSystem(session.StateWord(), partition, &parses_);
  if (partition.fsKind == kFsFat16 || partition.fsKind == kFsFat32)
    for (std::uint64_t lba : parses_.visitedDirectories) readDirectories_.insert(lba);
  if (partition.fsKind == kFsExfat && ok) NoteExfatDirectories(partition, exfatDirectories_);
  if (!IsLive(partition.table, kRootId)) InitTable(partition.table);
  return ok;
}

void ResultOrganiser::GiveDiskFacts(const PartitionInfo& scanned, PartitionInfo& p) const {
  p.diskPath = scanned.diskPath;
  p.source = scanned.source;
  p.diskName = scanned.diskName;
  p.diskNumber = scanned.diskNumber;
  p.diskSectorCount = scanned.diskSectorCount;
  p.removable = scanned.removable;
  if (p.displayName.empty()) p.displayName = p.volumeLabel;
}

void ResultOrganiser::CollectRealPartitions(ScanSession& session, PartitionList& out) {
  const PartitionInfo& scanned = session.Partition();
  for (const DeviceInfo& row : RealVolumeRows(scanned, session.Environment().devices)) {
    auto p = std::make_unique<PartitionInfo>();
    MakePartitionInfo(row, *p);
    GiveDiskFacts(scanned, *p);
    p->origin = kOriginReal;
    if (!session.IsNewPartitionStart(p->startLba)) continue;
    if (!Parse(session, *p)) continue;
    // Every file of the volume, also those its views leave out (the live
    // files in modes 2 and 5): carved copies of them are not listed again.
    AppendFileRuns(*p, listedRuns_);
    AppendFileStarts(*p, listedFiles_);
    for (auto& view : ViewsByMode(std::move(p), session.Mode())) out.push_back(std::move(view));
  }
}

// Steps 4 to 10: lost partitions from extended boot records, boot sectors
// and MFT runs, kept when their start is new, filtered by the settings and
// the scanned area, parsed; then the hits their readers consumed retire.
ResultOrganiser::PartitionList ResultOrganiser::LostPartitions(ScanSession& session, DiskHandle& disk,
                                                               const std::vector<ScanHit*>& hits) {
  const PartitionInfo& scanned = session.Partition();
  Step(session, kStepPartitions);
  PartitionList candidates;
  CandidatesFromStructures(disk, SectorKindHits(hits), candidates);
  PartitionList lost;
  for (auto& p : candidates)
    if (session.IsNewPartitionStart(p->startLba)) lost.push_back(std::move(p));

  Step(session, kStepNtfsRuns);
  const std::vector<const ScanHit*> records = AliveOfKind(hits, kHitFileRecord);
  for (const MftRunGroup& run : GroupMftRuns(records)) {
    auto placed = BuildFromMftRun(run, records);
    if (!placed || HasStart(lost, placed->start) || !session.IsNewPartitionStart(placed->start))
      continue;
    lost.push_back(PartitionFromMftRun(*placed));
  }

  const std::uint64_t lower = scanned.startLba <= kLowStartSlack ? 0 : scanned.startLba;
  const std::uint64_t upper = scanned.startLba + scanned.sectorCount - 1;
  std::erase_if(lost, [&](const std::unique_ptr<PartitionInfo>& p) {
    return !KindSearched(session.Settings(), p->fsKind) || p->startLba < lower || p->startLba > upper;
  });
  const bool parse = GetSetting("ParseFileSys") == "1";
  for (auto& p : lost) {
    GiveDiskFacts(scanned, *p);
    if (parse) Parse(session, *p);
    else InitTable(p->table);
    if (p->origin == kOriginMftRun) ReadBuiltLabel(disk, *p);
  }
  RetireConsumedHits(hits, KnownNtfsRanges(parses_.known), readDirectories_);
  // The directories of the exFAT volumes read are theirs: only the others
  // (in their free space, or of volumes gone) rebuild a volume.
  exfatDirectories_.Seal();
  RetireExfatDirectoryHits(hits, exfatDirectories_);
  return lost;
}

// Step 12: exFAT volumes from directory sectors; with parsing on, NTFS
// trees from the FILE records still alive and FAT trees from directory
// clusters.
void ResultOrganiser::RebuiltTrees(ScanSession& session, DiskHandle& disk,
                                   const std::vector<ScanHit*>& hits, PartitionList& found) {
  const std::string& name = session.Partition().displayName;
  Step(session, kStepExfat);
  if (!RebuildFormerExfatTrees(session.StateWord(), disk, hits, found, liveVolumes_, name))
    RebuildExfatVolumes(session.StateWord(), disk, hits, found, liveVolumes_, name);
  if (GetSetting("ParseFileSys") != "1") return;
  const std::vector<const ScanHit*> loose = AliveOfKind(hits, kHitFileRecord);
  if (loose.size() > kMinLooseRecords) {
    Step(session, kStepLooseRecords);
    std::vector<const PartitionInfo*> liveVolumes;
    for (const PartitionInfo& v : liveVolumes_) liveVolumes.push_back(&v);
    BuildOrphanRecordTrees(disk, loose, AliveOfKind(hits, kHitIndxRecord), found, liveVolumes, name);
  }
  if (auto fat = BuildFatDirectoryTrees(disk, AliveOfKind(hits, kHitFatDirectory),
                                        AliveOfKind(hits, kHitFatRootDirectory), name))
    found.push_back(std::move(fat));
}

void ResultOrganiser::DropRepeatedVolumes(PartitionList& found) const {
  FileStarts real = listedFiles_;
  for (const auto& p : found)
    if (p->origin == kOriginReal) AppendFileStarts(*p, real);
  std::sort(real.begin(), real.end());
  std::erase_if(found, [&](const std::unique_ptr<PartitionInfo>& p) {
    return p->origin != kOriginReal && p->origin != kOriginSignatures && RepeatsFiles(*p, real);
  });
}

void ResultOrganiser::MarkOverlaidTrees(PartitionList& found) const {
  auto rebuilt = [](const PartitionInfo& p) {
    return p.origin == kOriginLooseRecords || p.origin == kOriginDirectoryEntries;
  };
  std::vector<std::shared_ptr<const LaterVolume>> volumes = liveAllocations_;
  for (const auto& p : found)
    if (!rebuilt(*p) && p->origin != kOriginSignatures)
      if (auto later = LaterVolume::Of(*p)) volumes.push_back(std::move(later));
  for (auto& p : found) {
    if (!rebuilt(*p)) continue;
    const std::uint64_t end =
        p->sectorCount > UINT64_MAX - p->startLba ? UINT64_MAX : p->startLba + p->sectorCount;
    for (const auto& v : volumes) {
      // The two views of one volume carry one map: it is counted once.
      const bool seen = std::any_of(p->overlaidBy.begin(), p->overlaidBy.end(), [&](const auto& o) {
        return o->StartLba() == v->StartLba() && o->EndLba() == v->EndLba();
      });
      if (!seen && v->EndLba() > p->startLba && v->StartLba() < end) p->overlaidBy.push_back(v);
    }
  }
}

bool ResultOrganiser::OrganiseResults(ScanSession& session) {
  const PartitionInfo& scanned = session.Partition();
  Step(session, kStepCollect);
  std::vector<ScanHit*> hits = CollectOrganisedHits(session);
  ApplyGapSizes(hits, scanned, IsFreeSpaceMode(session.Mode()) ? &session.FreeSpace() : nullptr);
  DiskHandle disk;
  if (!session.Environment().open(scanned, disk)) return false;
  parses_.known.Reset();
  parses_.scanCompleted = true;
  parses_.scanHits = ClusterKindHitsOf(hits);

  PartitionList found;
  CollectRealPartitions(session, found);
  for (auto& p : LostPartitions(session, disk, hits)) found.push_back(std::move(p));
  RebuiltTrees(session, disk, hits, found);
  DropRepeatedVolumes(found);
  MarkOverlaidTrees(found);
  for (auto& p : found) GiveDiskFacts(scanned, *p);
  DropNearlyEmptyPartitions(found, session.Mode());

  Step(session, kStepFoundFiles);
  // A carved copy of a file a volume lists (live or deleted; in the
  // free-space modes the live files' chunks are read as well) is not
  // listed again: each file once, with its name.
  {
    SectorRuns runs = listedRuns_;
    for (const auto& p : found) AppendFileRuns(*p, runs);
    DropCarvedInsideFileRuns(hits, std::move(runs));
  }
  if (auto carved = BuildFoundFilesPartition(hits, found, session.Settings(), scanned)) {
    carved->origin = kOriginSignatures;
    found.push_back(std::move(carved));
  }
  for (auto& p : found) SplitLostFolder(p->table);
  parses_.scanCompleted = false;
  parses_.scanHits.clear();

  results_.clear();
  for (auto& p : found) results_.push_back(std::move(p));
  return !Results().empty();
}

std::vector<std::unique_ptr<PartitionInfo>>& ResultOrganiser::Results() {
  if (!liveAdded_.empty()) {
    results_.insert(results_.begin(), std::make_move_iterator(liveAdded_.begin()),
                    std::make_move_iterator(liveAdded_.end()));
    liveAdded_.clear();
  }
  return results_;
}

}  // namespace ambrel
