#include "fs/fat/fat32_high_words.h"

#include <algorithm>
#include <mutex>

#include "catalog/node_table.h"
#include "fs/fat/fat_reader.h"

namespace ambrel {
namespace {


constexpr std::uint32_t kNeighbourSteps = 1000;
constexpr std::uint32_t kNeighbourMinSteps = 50;
constexpr std::size_t kBestCandidates = 5;

struct Candidate {
  std::uint32_t cluster;
  std::uint32_t distance;
};

bool IsFreeInFat(const FatEntries& fat, std::uint32_t cluster) {
  return fat.Contains(cluster) && fat.Next(cluster) == 0;
}

// Candidates from the closest-in-time neighbours in the table whose first
// cluster is known in full, best first.
std::vector<Candidate> NeighbourCandidates(const FoundFileTable& table, const FatEntries& fat,
                                           const FoundFileNode& node) {
  std::vector<Candidate> best;
  const std::uint32_t low = node.firstCluster & 0xFFFF;
  for (std::uint32_t i = 0; i < kNeighbourSteps; ++i) {
    bool found = false;
    for (std::int64_t nid : {std::int64_t(node.id) + i, std::int64_t(node.id) - i}) {
      if (nid <= kRootId || nid >= table.count) continue;
      const FoundFileNode* nb = NodeAt(table, static_cast<std::uint32_t>(nid));
      if (!nb) continue;
      NodeKind k = KindOf(*nb);
      bool present = k == kPresentFile || k == kPresentFolder;
      if (!present && nb->firstCluster <= 0xFFFF) continue;
      std::uint32_t candidate = (nb->firstCluster & 0xFFFF0000u) | low;
      if (!IsFreeInFat(fat, candidate)) continue;
      std::uint32_t distance = nb->created > node.created ? nb->created - node.created : node.created - nb->created;
      best.push_back({candidate, distance});
      std::stable_sort(best.begin(), best.end(),
                       [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
      if (best.size() > kBestCandidates) best.pop_back();
      found = true;
    }
    if (!best.empty() && best.front().distance == 0) break;
    if (i >= kNeighbourMinSteps && found) break;
  }
  return best;
}

std::vector<std::uint32_t> ContentCandidates(const PartitionInfo& partition, const FatGeometry& g,
                                             const FatEntries& fat, const ClusterKindTable& kinds,
                                             const FoundFileNode& node) {
  std::vector<std::uint32_t> out;
  const std::uint32_t low = node.firstCluster & 0xFFFF;
  const std::uint64_t highest = (partition.sectorCount / g.spc) >> 16;
  for (std::uint64_t i = 0; i <= highest && i <= 0xFFF; ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(i << 16) | low;
    if (IsFreeInFat(fat, c) && kinds.Contains(c) && kinds.KindAt(c) == node.typeCode) out.push_back(c);
  }
  return out;
}

std::uint32_t Distance(std::uint32_t a, std::uint32_t b) { return a > b ? a - b : b - a; }

// The first cluster the estimates settle on; 0 when nothing was found.
std::uint32_t EstimateFirstCluster(const PartitionInfo& partition, const FatGeometry& g,
                                   const FatEntries& fat, const ClusterKindTable& kinds,
                                   const FoundFileNode& node) {
  NodeKind kind = KindOf(node);
  auto neighbourBest = [&]() -> std::uint32_t {
    if (kind != kDeletedFile && kind != kDeletedFolder) return 0;
    auto best = NeighbourCandidates(partition.table, fat, node);
    return best.empty() ? 0 : best.front().cluster;
  };
  if (node.typeCode <= 35 || node.typeCode >= 237) return neighbourBest();
  std::vector<std::uint32_t> content = ContentCandidates(partition, g, fat, kinds, node);
  if (content.empty()) return neighbourBest();
  if (content.size() == 1 || kind == kDeletedFolder) return content.front();
  std::vector<Candidate> neighbours;
  if (kind == kDeletedFile) neighbours = NeighbourCandidates(partition.table, fat, node);
  if (neighbours.empty()) return content.front();
  for (std::size_t i = 1; i < content.size(); ++i)
    for (const Candidate& n : neighbours)
      if (n.cluster == content[i]) return content[i];
  std::uint32_t nearest = content.front();
  for (std::uint32_t c : content)
    if (Distance(c, neighbours.front().cluster) < Distance(nearest, neighbours.front().cluster)) nearest = c;
  return nearest;
}

}  // namespace

ClusterKindTable::ClusterKindTable(const FatGeometry& g, std::span<const ClusterKindHit> hits) {
  kinds_.assign(std::min<std::uint64_t>(g.clusterCount + 2, kMaxClusterKinds), 0);
  for (const ClusterKindHit& hit : hits) {
    if (hit.lba < g.dataStart || (hit.lba - g.dataStart) % g.spc != 0) continue;
    std::uint64_t cluster = (hit.lba - g.dataStart) / g.spc + 2;
    if (cluster < kinds_.size()) kinds_[cluster] = hit.kind;
  }
}

bool RecoverFat32HighWords(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                           std::uint32_t firstId, std::uint32_t endId, bool deletedDirsOnly,
                           const ClusterKindTable& kinds) {
  auto g = FatGeometryOf(partition);
  if (!g || !g->fat32 || partition.fat.empty()) return false;
  endId = std::min(endId, partition.table.count);
  if (endId < firstId || endId - firstId < 6) return false;
  FatEntries fat(partition.fat, true);
  for (std::uint32_t id = firstId; id < endId; ++id) {
    if (FatStopRequested(stopWord)) return false;
    FoundFileNode* node = NodeAt(partition.table, id);
    if (!node || (node->firstCluster & 0x0FFF0000u) != 0) continue;
    NodeKind kind = KindOf(*node);
    // Present entries keep their full cluster number on disk.
    if (kind == kPresentFile || kind == kPresentFolder) continue;
    if (deletedDirsOnly && kind != kDeletedFolder) continue;
    if (std::uint32_t c = EstimateFirstCluster(partition, *g, fat, kinds, *node)) {
      node->firstCluster = c;
      if (g->InClusterRange(c)) node->dataSector = g->ClusterLba(c);
    }
  }
  return true;
}

}  // namespace ambrel
