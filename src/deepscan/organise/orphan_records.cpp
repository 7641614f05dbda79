#include "deepscan/organise/orphan_records.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>

#include "app/progress.h"
#include "device/device_enum.h"
#include "deepscan/organise/mft_run_rebuild.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_run_list.h"
#include "fs/ntfs/ntfs_tree_from_records.h"
#include "fs/ntfs/ntfs_volume.h"

namespace ambrel {
namespace {

constexpr std::size_t kMisfitsPerSeed = 20;
constexpr std::size_t kGroupFull = 39;
constexpr std::uint64_t kDefaultMftSector = 0x600000;
constexpr std::uint32_t kDefaultSpc = 8;

std::uint32_t RecordNumberOf(const ScanHit& hit) {
  return hit.record ? hit.record->recordNumber : 0;
}

bool Fits(const ScanHit& seed, const ScanHit& hit) {
  const std::uint32_t a = RecordNumberOf(seed), b = RecordNumberOf(hit);
  if (b <= a || hit.lba < seed.lba || RecordSectorsOf(hit) != RecordSectorsOf(seed)) return false;
  return hit.lba - seed.lba == std::uint64_t{RecordSectorsOf(seed)} * (b - a);
}

// The record's 0th LBA under its own number: where the MFT would start.
std::optional<std::uint64_t> RecordZeroLba(const ScanHit& hit) {
  const std::uint64_t back = std::uint64_t{RecordSectorsOf(hit)} * RecordNumberOf(hit);
  if (back > hit.lba) return std::nullopt;
  return hit.lba - back;
}

}  // namespace

std::vector<RecordGroup> GroupOrphanRecords(const std::vector<const ScanHit*>& records) {
  std::vector<RecordGroup> groups;
  std::vector<bool> used(records.size(), false);
  std::size_t next = 0;
  while (true) {
    while (next < records.size() && (used[next] || !records[next] || !records[next]->record)) ++next;
    if (next >= records.size()) break;
    RecordGroup group;
    std::size_t seed = next;
    while (seed < records.size() && group.size() <= kGroupFull) {
      if (used[seed] || !records[seed] || !records[seed]->record) {
        ++seed;
        continue;
      }
      used[seed] = true;
      group.push_back(static_cast<std::uint32_t>(seed));
      std::size_t last = seed, misfits = 0;
      for (std::size_t j = seed + 1; j < records.size() && misfits < kMisfitsPerSeed; ++j) {
        if (used[j] || !records[j] || !records[j]->record) continue;
        if (Fits(*records[seed], *records[j])) {
          used[j] = true;
          group.push_back(static_cast<std::uint32_t>(j));
          last = j;
          misfits = 0;
        } else {
          ++misfits;
        }
      }
      seed = last + 1;
    }
    groups.push_back(std::move(group));
  }
  return groups;
}

bool GroupLargeEnough(std::size_t groupSize, std::size_t partitionsFound) {
  if (partitionsFound > 2) return groupSize >= 20 * partitionsFound;
  return groupSize >= 50;
}

std::optional<RecordPlacement> DefaultLayoutPlacement(std::uint64_t firstLba, std::uint32_t firstRecord,
                                                      std::uint32_t recordSectors) {
  const std::uint64_t back = std::uint64_t{recordSectors} * firstRecord + kDefaultMftSector;
  if (back > firstLba) return std::nullopt;
  return RecordPlacement{firstLba - back, kDefaultSpc};
}

std::optional<std::uint32_t> RecordClusterSectors(ByteSpan record) {
  if (record.size() < 4 || std::memcmp(record.data(), "FILE", 4) != 0) return std::nullopt;
  MftAttributeWalker walker(record);
  while (auto attribute = walker.Next()) {
    if (!attribute->nonResident) continue;
    const ByteCursor& a = attribute->bytes;
    const auto firstVcn = a.U64(0x10), lastVcn = a.U64(0x18), allocated = a.U64(0x28);
    if (!firstVcn || !lastVcn || !allocated || *firstVcn != 0 || *lastVcn >= (1ull << 40) || *allocated == 0)
      continue;
    const std::uint64_t clusters = *lastVcn + 1;
    if (*allocated % clusters != 0) continue;
    const std::uint64_t bytes = *allocated / clusters;
    if (bytes < 512 || bytes > (2u << 20) || !std::has_single_bit(bytes)) continue;
    return static_cast<std::uint32_t>(bytes / 512);
  }
  return std::nullopt;
}

std::optional<std::uint32_t> VotedClusterSectors(const std::vector<std::vector<std::uint8_t>>& records) {
  std::map<std::uint32_t, std::size_t> votes;
  std::size_t stated = 0;
  for (const auto& r : records)
    if (auto spc = RecordClusterSectors(ByteSpan(r.data(), r.size()))) {
      ++votes[*spc];
      ++stated;
    }
  if (stated < 3) return std::nullopt;
  std::uint32_t best = 0;
  std::size_t bestCount = 0, runnerUp = 0;
  for (const auto& [spc, count] : votes) {
    if (count > bestCount) {
      runnerUp = bestCount;
      best = spc;
      bestCount = count;
    } else if (count > runnerUp) {
      runnerUp = count;
    }
  }
  if (bestCount == runnerUp) return std::nullopt;
  return best;
}

std::vector<std::uint8_t> IndexAllocationRuns(ByteSpan record) {
  auto attribute = FindAttribute(record, std::nullopt, kAttrIndexAllocation);
  if (!attribute || !attribute->nonResident) return {};
  auto runs = RunListBytes(*attribute);
  if (!runs || runs->size() < 3 || runs->size() >= record.size()) return {};
  return std::vector<std::uint8_t>(runs->data(), runs->data() + runs->size());
}

namespace {

// How many of the directory's INDX records lie inside its index extents
// under (start, spc); 0 unless one lies at the first extent's start.
std::size_t MatchedIndexRecords(const IndexedDirectory& d, const std::vector<RunEntry>& runs,
                                std::uint64_t start, std::uint32_t spc) {
  ExtentList extents;
  if (!ResolveExtents(start, spc, runs, extents) || extents.empty()) return 0;
  const std::uint64_t first = extents.front().startSector;
  if (std::find(d.indxLbas.begin(), d.indxLbas.end(), first) == d.indxLbas.end()) return 0;
  std::size_t inside = 0;
  for (std::uint64_t lba : d.indxLbas)
    for (const DataExtent& e : extents)
      if (lba >= e.startSector && lba - e.startSector < e.sectorCount) {
        ++inside;
        break;
      }
  return inside;
}

}  // namespace

std::optional<RecordPlacement> PlacementFromIndexRecords(
    const std::vector<IndexedDirectory>& directories, std::uint64_t recordZeroLba) {
  std::map<std::pair<std::uint64_t, std::uint32_t>, std::size_t> votes;
  for (const IndexedDirectory& d : directories) {
    const std::vector<RunEntry> runs = DecodeRunList(ByteSpan(d.indexRuns.data(), d.indexRuns.size()));
    if (runs.empty() || runs[0].sparse || runs[0].lcnDelta < 0 || runs[0].clusterCount == 0) continue;
    const auto lcn = static_cast<std::uint64_t>(runs[0].lcnDelta);
    for (std::uint32_t spc = 1; spc <= 128; spc <<= 1) {
      for (std::uint64_t lba : d.indxLbas) {
        if (lcn * spc > lba) continue;
        const std::uint64_t start = lba - lcn * spc;
        if (start > recordZeroLba) continue;
        if (std::size_t n = MatchedIndexRecords(d, runs, start, spc)) votes[{start, spc}] += n;
      }
    }
  }
  if (votes.empty()) return std::nullopt;
  // Most matches wins; among equals the usual 4 KiB cluster, then the larger one.
  auto better = [](const auto& a, const auto& b) {
    if (a.second != b.second) return a.second < b.second;
    if ((a.first.second == kDefaultSpc) != (b.first.second == kDefaultSpc))
      return b.first.second == kDefaultSpc;
    return a.first.second < b.first.second;
  };
  auto best = std::max_element(votes.begin(), votes.end(), better);
  return RecordPlacement{best->first.first, best->first.second};
}

namespace {

std::vector<IndexedDirectory> DirectoriesOf(DiskHandle& disk,
                                            const std::vector<const ScanHit*>& records,
                                            const RecordGroup& group,
                                            const std::vector<const ScanHit*>& indx) {
  std::multimap<std::uint32_t, std::uint64_t> indxByDirectory;
  for (const ScanHit* h : indx)
    if (h) indxByDirectory.emplace(h->aux1, h->lba);
  std::vector<IndexedDirectory> out;
  std::vector<std::uint8_t> record;
  for (std::uint32_t i : group) {
    const RecordSummaryView s = *records[i]->record;
    const std::uint8_t want = kSummaryInUse | kSummaryDirectory | kSummaryHasIndexAllocation;
    if ((s.flags & want) != want) continue;
    auto [lo, hi] = indxByDirectory.equal_range(s.recordNumber);
    if (lo == hi) continue;
    if (ReadMftRecord(disk, records[i]->lba, RecordSectorsOf(*records[i]) * 512, record) != RecordRead::kOk) continue;
    IndexedDirectory d;
    d.indexRuns = IndexAllocationRuns(ByteSpan(record.data(), record.size()));
    if (d.indexRuns.empty()) continue;
    for (auto it = lo; it != hi; ++it) d.indxLbas.push_back(it->second);
    out.push_back(std::move(d));
  }
  return out;
}

// Up to 64 records of the group, fixed up, spread over it.
std::vector<std::vector<std::uint8_t>> SampleRecords(DiskHandle& disk, const std::vector<const ScanHit*>& records,
                                                     const RecordGroup& group) {
  constexpr std::size_t kSample = 64;
  std::vector<std::vector<std::uint8_t>> out;
  const std::size_t step = std::max<std::size_t>(1, group.size() / kSample);
  for (std::size_t k = 0; k < group.size() && out.size() < kSample; k += step) {
    std::vector<std::uint8_t> record;
    const std::uint32_t recordBytes = RecordSectorsOf(*records[group[k]]) * 512;
    if (ReadMftRecord(disk, records[group[k]]->lba, recordBytes, record) == RecordRead::kOk)
      out.push_back(std::move(record));
  }
  return out;
}

// An NTFS volume already found whose MFT starts where the group's record 0
// would lie (a volume formatted again over the old one keeps its MFT place).
std::optional<RecordPlacement> PlacementFromKnownVolume(
    std::uint64_t recordZero, const std::vector<const PartitionInfo*>& volumes) {
  for (const PartitionInfo* p : volumes) {
    if (!p || p->fsKind != kFsNtfs || p->origin == kOriginLooseRecords) continue;
    const std::uint32_t spc = SectorsPerCluster(p->bootSector);
    if (spc == 0) continue;
    const std::uint64_t mftCluster = ByteCursor(p->bootSector).U64(0x30).value_or(0);
    if (p->startLba + mftCluster * spc == recordZero) return RecordPlacement{p->startLba, spc};
  }
  return std::nullopt;
}

}  // namespace

void BuildOrphanRecordTrees(DiskHandle& disk, const std::vector<const ScanHit*>& records,
                            const std::vector<const ScanHit*>& indx,
                            std::vector<std::unique_ptr<PartitionInfo>>& found,
                            const std::vector<const PartitionInfo*>& otherVolumes,
                            const std::string& displayName) {
  std::vector<const PartitionInfo*> volumes = otherVolumes;
  for (const auto& p : found) volumes.push_back(p.get());
  ScanProgress progress{};
  progress.stage = kStageParse;
  for (const RecordGroup& group : GroupOrphanRecords(records)) {
    if (!GroupLargeEnough(group.size(), found.size())) continue;
    const ScanHit& first = *records[group.front()];
    auto recordZero = RecordZeroLba(first);
    if (!recordZero) continue;
    auto placement = PlacementFromIndexRecords(DirectoriesOf(disk, records, group, indx), *recordZero);
    if (!placement) {
      // Without INDX records to place it, the group lies where a volume
      // found there keeps its MFT, or where the default layout would; its
      // cluster size is what its own records state (a volume formatted
      // over with another cluster size keeps the MFT's place, not its
      // clusters), else that volume's or the default one.
      placement = PlacementFromKnownVolume(*recordZero, volumes);
      if (!placement)
        placement = DefaultLayoutPlacement(first.lba, RecordNumberOf(first), RecordSectorsOf(first));
      if (placement)
        if (auto stated = VotedClusterSectors(SampleRecords(disk, records, group))) placement->spc = *stated;
    }
    if (!placement) continue;
    std::vector<FileRecordHit> hits;
    hits.reserve(group.size());
    for (std::uint32_t i : group) hits.push_back({records[i]->lba, RecordNumberOf(*records[i])});
    std::sort(hits.begin(), hits.end(),
              [](const FileRecordHit& a, const FileRecordHit& b) { return a.recordNumber < b.recordNumber; });
    std::vector<PartitionInfo> built;
    if (!BuildNtfsTreeFromRecords(built, progress, disk, displayName, hits, placement->start,
                                  static_cast<std::uint32_t>(placement->start >> 32), placement->spc,
                                  RecordSectorsOf(first) * 512))
      continue;
    for (PartitionInfo& p : built) {
      p.origin = kOriginLooseRecords;
      if (p.volumeLabel.empty()) p.volumeLabel = kDefaultVolumeLabel;
      found.push_back(std::make_unique<PartitionInfo>(std::move(p)));
    }
  }
}

}  // namespace ambrel
