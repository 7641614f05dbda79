#include "deepscan/organise/mft_run_rebuild.h"

#include <algorithm>

#include "fs/ntfs/ntfs_run_list.h"

namespace ambrel {
namespace {

bool NamedMft(const RecordSummaryView& s) {
  return s.name.size() >= 2 && s.name[0] == u'$' && s.name[1] == u'M';
}

std::optional<RecordSummaryView> SummaryOf(const std::vector<const ScanHit*>& records, std::size_t i) {
  if (i >= records.size() || !records[i] || !records[i]->record) return std::nullopt;
  return *records[i]->record;
}

}  // namespace

std::vector<MftRunGroup> GroupMftRuns(const std::vector<const ScanHit*>& records) {
  std::vector<MftRunGroup> runs;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ScanHit* hit = records[i];
    if (!hit) continue;
    if (!runs.empty()) {
      MftRunGroup& run = runs.back();
      if (RecordSectorsOf(*hit) == run.recordSectors &&
          hit->lba == run.lba + std::uint64_t{run.recordSectors} * run.records) {
        ++run.records;
        continue;
      }
    }
    MftRunGroup run;
    run.first = static_cast<std::uint32_t>(i);
    run.records = 1;
    run.lba = hit->lba;
    run.recordSectors = RecordSectorsOf(*hit);
    run.startsWithMft = hit->record && NamedMft(*hit->record);
    runs.push_back(run);
  }
  return runs;
}

bool IsValidNtfsSpc(std::uint64_t spc) {
  return spc >= 1 && spc <= 128 && (spc & (spc - 1)) == 0;
}

std::optional<std::uint64_t> FirstExtentCluster(ByteSpan runs,
                                                std::uint64_t* clusterCount) {
  if (runs.empty()) return std::nullopt;
  const std::vector<RunEntry> decoded = DecodeRunList(runs);
  if (decoded.empty() || decoded[0].sparse || decoded[0].clusterCount == 0) return std::nullopt;
  if (decoded[0].lcnDelta < 0) return std::nullopt;
  if (clusterCount) *clusterCount = decoded[0].clusterCount;
  return static_cast<std::uint64_t>(decoded[0].lcnDelta);
}

std::optional<std::uint32_t> SpcFromMirrorRecord(const RecordSummaryView& mirror, std::uint32_t recordSectors) {
  std::uint64_t spc = 0;
  const std::uint64_t mirrorSectors = 4ull * recordSectors;
  if (mirror.dataSize > mirrorSectors * 512) {
    // The mirror holds four records and fills one cluster when clusters
    // are larger than four records.
    spc = mirror.dataSize / 512;
  } else {
    std::uint64_t count = 0;
    if (!FirstExtentCluster(mirror.runs, &count) || count == 0) return std::nullopt;
    spc = mirrorSectors / count;
  }
  if (!IsValidNtfsSpc(spc)) return std::nullopt;
  return static_cast<std::uint32_t>(spc);
}

std::optional<MftRunPlacement> BuildFromMftRun(const MftRunGroup& group,
                                               const std::vector<const ScanHit*>& records) {
  if (!group.startsWithMft || group.records <= 3) return std::nullopt;
  const std::optional<RecordSummaryView> mft = SummaryOf(records, group.first);
  const std::optional<RecordSummaryView> mirror = SummaryOf(records, group.first + 1);
  if (!mft || !mirror) return std::nullopt;
  auto spc = SpcFromMirrorRecord(*mirror, group.recordSectors);
  if (!spc) return std::nullopt;
  // A run longer than the mirror is the MFT itself; the mirror holds four
  // records, or one cluster's worth when clusters hold more.
  const std::uint32_t mirrorRecords = std::max<std::uint32_t>(4, *spc / group.recordSectors);
  const bool isMirror = group.records <= mirrorRecords;
  const RecordSummaryView& placing = isMirror ? *mirror : *mft;
  auto cluster = FirstExtentCluster(placing.runs);
  if (!cluster) return std::nullopt;
  const std::uint64_t offset = *cluster * *spc;
  if (*cluster != 0 && offset / *cluster != *spc) return std::nullopt;
  if (offset > group.lba) return std::nullopt;
  MftRunPlacement placement;
  placement.start = group.lba - offset;
  placement.spc = *spc;
  placement.mftCluster = isMirror ? FirstExtentCluster(mft->runs).value_or(0) : *cluster;
  placement.mirrorCluster = isMirror ? *cluster : FirstExtentCluster(mirror->runs).value_or(0);
  placement.isMirror = isMirror;
  placement.recordSectors = group.recordSectors;
  return placement;
}

}  // namespace ambrel
