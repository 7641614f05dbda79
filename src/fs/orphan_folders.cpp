#include "fs/orphan_folders.h"

#include <algorithm>
#include <unordered_set>

namespace ambrel {
namespace {

constexpr std::uint32_t kSpanSectors = 2048;     // 1 MiB per read of small clusters
// Clusters up to 32 KiB are read whole, in spans: a one-sector read brings
// in a whole page and the device's read-ahead anyway, and one large read
// replaces hundreds of calls (a 12 GB FAT32 of 8 KiB clusters made 840,000
// one-sector reads, half the time of its listing).
constexpr std::uint32_t kSpanClusterSectors = 64;

bool Stopped(const std::atomic<std::uint32_t>* stop) { return stop && stop->load(std::memory_order_relaxed) == 2; }

}  // namespace

bool OrphanSearchApplies(OrphanFolderSearch search, std::uint64_t volumeSectors) {
  switch (search) {
    case OrphanFolderSearch::kOff: return false;
    case OrphanFolderSearch::kAlways: return true;
    case OrphanFolderSearch::kSmallVolumes: return volumeSectors <= kOrphanSearchDefaultBytes / kSectorSize;
  }
  return false;
}

std::vector<OrphanFolder> FindOrphanFolders(DiskHandle& handle, const OrphanClusterArea& area,
                                            const OrphanCandidate& candidate, const OrphanRecogniser& recognise,
                                            const std::atomic<std::uint32_t>* stopWord) {
  std::vector<OrphanFolder> found;
  if (area.spc == 0 || area.highest < 2) return found;
  std::vector<std::uint8_t> buffer;
  std::vector<std::uint64_t> children;
  auto look = [&](const std::uint8_t* sector, std::uint64_t cluster) {
    children.clear();
    if (found.size() < kMaxOrphanFolders && recognise(std::span(sector, kSectorSize), cluster, children))
      found.push_back({cluster, children});
  };
  // One sector per cluster, each read alone: used for large clusters and
  // where a span read failed.
  auto readEach = [&](std::uint64_t first, std::uint64_t count) {
    buffer.resize(kSectorSize);
    for (std::uint64_t c = first; c < first + count && !Stopped(stopWord); ++c)
      if (ReadSectors(handle, area.LbaOf(c), 1, buffer.data())) look(buffer.data(), c);
  };
  const bool spans = area.spc <= kSpanClusterSectors;
  const std::uint64_t perSpan = std::max<std::uint64_t>(1, kSpanSectors / area.spc);
  std::uint64_t c = 2;
  while (c <= area.highest && found.size() < kMaxOrphanFolders) {
    if (Stopped(stopWord)) break;
    if (!candidate(c)) {
      ++c;
      continue;
    }
    std::uint64_t end = c + 1;  // the run of candidates c .. end - 1, at most one span
    while (end <= area.highest && end - c < perSpan && candidate(end)) ++end;
    const std::uint64_t count = end - c;
    if (!spans) {
      readEach(c, count);
    } else {
      buffer.resize(count * area.spc * kSectorSize);
      if (ReadSectors(handle, area.LbaOf(c), static_cast<std::uint32_t>(count * area.spc), buffer.data())) {
        for (std::uint64_t i = 0; i < count; ++i) look(buffer.data() + i * area.spc * kSectorSize, c + i);
      } else {
        readEach(c, count);
      }
    }
    c = end;
  }
  return found;
}

std::vector<std::uint64_t> OrphanWalkOrder(const std::vector<OrphanFolder>& folders) {
  std::unordered_set<std::uint64_t> named;
  for (const OrphanFolder& f : folders)
    for (std::uint64_t child : f.children)
      if (child != f.cluster) named.insert(child);
  std::vector<std::uint64_t> order;
  order.reserve(folders.size());
  for (const OrphanFolder& f : folders)
    if (!named.count(f.cluster)) order.push_back(f.cluster);
  for (const OrphanFolder& f : folders)
    if (named.count(f.cluster)) order.push_back(f.cluster);
  return order;
}

}  // namespace ambrel
