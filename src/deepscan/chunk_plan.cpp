#include "deepscan/chunk_plan.h"

#include "common/byte_cursor.h"
#include "fs/ntfs/ntfs_run_list.h"

namespace ambrel {

ScanRange RangeOf(std::uint64_t start, std::uint64_t sectors) {
  return {ChunkFloor(start), ChunkFloor(start + (sectors != 0 ? sectors - 1 : 0))};
}

std::uint64_t ChunkCountOf(std::uint64_t diskSectors) {
  return diskSectors / kChunkSectors + (diskSectors % kChunkSectors != 0);
}

std::vector<std::uint64_t> PriorityRangeChunks(std::uint64_t start, std::uint64_t length) {
  std::vector<std::uint64_t> out;
  if (length == 0) return out;
  for (std::uint64_t lba = ChunkFloor(start); lba <= ChunkFloor(start + length); lba += kChunkSectors)
    out.push_back(lba);
  return out;
}

std::vector<std::uint64_t> GibProbeChunks(std::uint64_t start, std::uint64_t sectors) {
  constexpr std::uint64_t kGib = 0x200000;
  std::vector<std::uint64_t> out;
  if (sectors <= 0x800000) return out;
  for (std::uint64_t v = start & ~(kGib - 1); v <= start + sectors; v += kGib)
    if (v >= start) out.push_back(v);
  return out;
}

std::vector<std::uint64_t> BootSectorHints(const ScanHit& hit) {
  std::vector<std::uint64_t> out;
  if (!hit.sector) return out;
  const ByteCursor boot(hit.sector->data(), hit.sector->size());
  const bool ntfs = hit.kind == kHitNtfsBoot;
  const bool fat = hit.kind == kHitFat16Boot || hit.kind == kHitFat32Boot;
  if (!ntfs && !fat) return out;
  if (hit.lba > kChunkSectors) out.push_back(hit.lba - kChunkSectors);
  const std::uint64_t total = ntfs ? boot.UncheckedU64(0x28) : boot.UncheckedU32(32);
  if (total != 0 && hit.lba <= UINT64_MAX - total - kChunkSectors) {
    out.push_back(hit.lba + total);
    out.push_back(hit.lba + total + kChunkSectors);
  }
  // A backup NTFS boot sector in the volume's last sector: the primary
  // lies `total` sectors before it.
  if (ntfs && total != 0 && hit.lba >= total) {
    const std::uint64_t primary = hit.lba - total;
    out.push_back(primary);
    if (primary > kChunkSectors - 1) out.push_back(primary - kChunkSectors);
  }
  return out;
}

namespace {

bool StartsWithMft(const RecordSummaryView& s) {
  return s.name.size() >= 2 && s.name[0] == u'$' && s.name[1] == u'M' && s.recordNumber == 0;
}

// Sectors per cluster from $MFTMirr, which holds at least 4 records in
// whole clusters: a data size above 4096 bytes is one cluster; otherwise
// the first run's cluster count spans the 4 KiB. Powers of two up to 128.
// The mirror holds four records, or one cluster when clusters are larger.
std::uint32_t ClusterSectorsFromMirror(const RecordSummaryView& mirror, std::uint32_t recordSectors) {
  std::uint64_t spc = 0;
  const std::uint64_t mirrorSectors = 4ull * recordSectors;
  if (mirror.dataSize > mirrorSectors * 512) {
    spc = mirror.dataSize / 512;
  } else {
    auto runs = DecodeRunList(mirror.runs);
    if (!runs.empty() && runs[0].clusterCount != 0) spc = mirrorSectors / runs[0].clusterCount;
  }
  const bool power = spc != 0 && (spc & (spc - 1)) == 0 && spc <= 128;
  return power ? static_cast<std::uint32_t>(spc) : 0;
}

// The partition start that a run beginning with $MFT gives, when it can be
// placed: its first record's (or, for a mirror run, its second record's)
// first cluster, counted back from the run's LBA.
bool MftRunPartitionStart(const HitList& hits, std::size_t first, std::size_t count,
                          std::uint64_t& start) {
  const RecordSummaryView mirror = *hits[first + 1].record;
  const std::uint32_t recordSectors = RecordSectorsOf(hits[first]);
  const std::uint32_t spc = ClusterSectorsFromMirror(mirror, recordSectors);
  if (spc == 0) return false;
  const bool isMft = count > std::max<std::uint32_t>(4, spc / recordSectors);
  const RecordSummaryView placing = isMft ? *hits[first].record : mirror;
  auto runs = DecodeRunList(placing.runs);
  if (runs.empty() || runs[0].lcnDelta < 0) return false;
  const std::uint64_t offset = std::uint64_t(runs[0].lcnDelta) * spc;
  if (offset > hits[first].lba) return false;
  start = hits[first].lba - offset;
  return true;
}

}  // namespace

std::vector<std::uint64_t> MftRunHints(const HitList& hits) {
  std::vector<std::uint64_t> out;
  std::size_t i = 0;
  while (i < hits.size()) {
    if (hits[i].kind != kHitFileRecord || !hits[i].record) {
      ++i;
      continue;
    }
    std::size_t n = 1;
    while (i + n < hits.size() && hits[i + n].kind == kHitFileRecord && hits[i + n].record &&
           RecordSectorsOf(hits[i + n]) == RecordSectorsOf(hits[i]) &&
           hits[i + n].lba == hits[i].lba + std::uint64_t{RecordSectorsOf(hits[i])} * n)
      ++n;
    if (n > 3) {
      std::uint64_t start = 0;
      const RecordSummaryView head = *hits[i].record;
      if (StartsWithMft(head) && MftRunPartitionStart(hits, i, n, start))
        out.push_back(start);
      else if (const std::uint64_t back = std::uint64_t{RecordSectorsOf(hits[i])} * head.recordNumber;
               hits[i].lba >= back)
        out.push_back(hits[i].lba - back);
    }
    i += n;
  }
  return out;
}

}  // namespace ambrel
