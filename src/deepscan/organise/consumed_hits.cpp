#include "deepscan/organise/consumed_hits.h"

#include <algorithm>

#include "fs/ntfs/ntfs_known_extents.h"

namespace ambrel {

void SectorRanges::Add(std::uint64_t start, std::uint64_t count) {
  if (count == 0) return;
  const std::uint64_t end = start + count < start ? ~std::uint64_t{0} : start + count;
  ranges_.emplace_back(start, end);
}

void SectorRanges::Seal() {
  std::sort(ranges_.begin(), ranges_.end());
  std::vector<std::pair<std::uint64_t, std::uint64_t>> merged;
  for (const auto& r : ranges_) {
    if (!merged.empty() && r.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, r.second);
    else
      merged.push_back(r);
  }
  ranges_ = std::move(merged);
}

bool SectorRanges::Contains(std::uint64_t lba) const {
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), lba,
                             [](std::uint64_t v, const auto& r) { return v < r.first; });
  if (it == ranges_.begin()) return false;
  --it;
  return lba >= it->first && lba < it->second;
}

SectorRanges KnownNtfsRanges(const KnownExtents& known) {
  SectorRanges ranges;
  for (const DataExtent& e : known.Mft())
    if (!e.sparse) ranges.Add(e.startSector, e.sectorCount);
  for (const IndexExtent& e : known.Index()) ranges.Add(e.startSector, e.sectorCount);
  ranges.Seal();
  return ranges;
}

std::size_t RetireConsumedHits(const std::vector<ScanHit*>& hits, const SectorRanges& ranges,
                               const std::set<std::uint64_t>& directoryStarts) {
  std::size_t retired = 0;
  for (ScanHit* h : hits) {
    if (!h) continue;
    const bool ntfs = h->kind == kHitFileRecord || h->kind == kHitIndxRecord;
    const bool fat = h->kind == kHitFatDirectory || h->kind == kHitFatRootDirectory;
    if (!ntfs && !fat) continue;
    if (ranges.Contains(h->lba) || (fat && directoryStarts.count(h->lba))) {
      h->kind = kHitDead;
      ++retired;
    }
  }
  return retired;
}

}  // namespace ambrel
