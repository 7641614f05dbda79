#include "deepscan/organise/exfat_volumes.h"

#include <algorithm>
#include <set>

#include "catalog/node_table.h"
#include "device/device_enum.h"
#include "fs/exfat/exfat_reader.h"

namespace ambrel {
namespace {

// The folders (first clusters) a directory names, read into a scratch copy
// of the volume.
std::set<std::uint32_t> NamedFolders(const std::atomic<std::uint32_t>* stopWord, DiskHandle& disk,
                                     const PartitionInfo& layout, std::uint32_t cluster) {
  PartitionInfo scratch;
  scratch.fsKind = layout.fsKind;
  scratch.startLba = layout.startLba;
  scratch.sectorCount = layout.sectorCount;
  scratch.bootSector = layout.bootSector;
  std::set<std::uint32_t> named;
  if (!InitTable(scratch.table)) return named;
  ReadExfatDirectory(stopWord, nullptr, disk, scratch, cluster, kExfatMaxDirectoryBytes, kRootId);
  for (std::uint32_t id = kRootId + 1; id < scratch.table.count; ++id) {
    const FoundFileNode* n = NodeAt(scratch.table, id);
    if (!n || !IsFolderKind(KindOf(*n))) continue;
    const std::uint32_t first = n->firstCluster;  // packed field: copied before use
    if (first >= 2) named.insert(first);
  }
  return named;
}

}  // namespace

bool RebuildFormerExfatTrees(const std::atomic<std::uint32_t>* stopWord, DiskHandle& disk,
                             const std::vector<ScanHit*>& hits,
                             std::vector<std::unique_ptr<PartitionInfo>>& found,
                             const std::vector<PartitionInfo>& otherVolumes, const std::string& displayName) {
  std::vector<const PartitionInfo*> volumes;
  for (const auto& p : found)
    if (p && p->fsKind == kFsExfat && p->origin == kOriginReal) volumes.push_back(p.get());
  for (const PartitionInfo& p : otherVolumes)
    if (p.fsKind == kFsExfat && p.origin == kOriginReal) volumes.push_back(&p);
  std::set<std::uint64_t> done;  // volume starts handled
  bool appended = false;
  for (const PartitionInfo* volume : volumes) {
    if (!done.insert(volume->startLba).second) continue;
    const auto g = ExfatGeometryOf(*volume);
    if (!g) continue;
    // The runs of directory sectors in the heap: each starts a directory
    // cluster when the old volume had this layout. A volume formatted with
    // another cluster size leaves them off the cluster starts: its trees
    // are not read with this geometry.
    const std::uint64_t heap = g->ClusterLba(2);
    const std::uint64_t heapEnd = heap + std::uint64_t{g->clusterCount} * g->spc;
    std::set<std::uint32_t> clusters;
    std::size_t runs = 0, offStart = 0;
    std::uint64_t previous = ~std::uint64_t{0};
    for (const ScanHit* h : hits) {
      if (h->kind != kHitExfatRootDirectory && h->kind != kHitExfatDirectory) continue;
      if (h->lba < heap || h->lba >= heapEnd) continue;
      const bool runStart = h->lba != previous + 1;
      previous = h->lba;
      if (!runStart) continue;
      ++runs;
      if ((h->lba - heap) % g->spc != 0) {
        ++offStart;
        continue;
      }
      clusters.insert(static_cast<std::uint32_t>((h->lba - heap) / g->spc + 2));
    }
    if (clusters.empty() || offStart * 10 > runs) continue;
    PartitionInfo layout;
    layout.fsKind = kFsExfatDirScan;
    layout.startLba = volume->startLba;
    layout.sectorCount = volume->sectorCount;
    layout.bootSector = volume->bootSector;
    // The tops of the old trees: directories no other old directory names.
    std::set<std::uint32_t> named;
    for (std::uint32_t c : clusters) {
      if (stopWord && stopWord->load() == 2) return appended;
      for (std::uint32_t child : NamedFolders(stopWord, disk, layout, c))
        if (child != c) named.insert(child);
    }
    auto rebuilt = std::make_unique<PartitionInfo>();
    rebuilt->fsKind = layout.fsKind;
    rebuilt->startLba = layout.startLba;
    rebuilt->sectorCount = layout.sectorCount;
    rebuilt->bootSector = layout.bootSector;
    if (!InitTable(rebuilt->table)) continue;
    for (std::uint32_t c : clusters) {
      if (named.count(c)) continue;
      ReadExfatDirectory(stopWord, nullptr, disk, *rebuilt, c, kExfatMaxDirectoryBytes, kRootId);
    }
    LinkAll(rebuilt->table);
    bool anyFile = false;
    for (std::uint32_t id = kRootId + 1; id < rebuilt->table.count && !anyFile; ++id) {
      const FoundFileNode* n = NodeAt(rebuilt->table, id);
      anyFile = n && IsFileKind(KindOf(*n));
    }
    if (!anyFile) continue;
    rebuilt->origin = kOriginDirectoryEntries;
    rebuilt->fsName = "ExfatDir";
    rebuilt->displayName = displayName;
    rebuilt->volumeLabel = volume->volumeLabel.empty() ? std::string(kDefaultVolumeLabel) : volume->volumeLabel;
    found.push_back(std::move(rebuilt));
    appended = true;
  }
  return appended;
}

bool RebuildExfatVolumes(const std::atomic<std::uint32_t>* stopWord, DiskHandle& disk,
                         const std::vector<ScanHit*>& hits,
                         std::vector<std::unique_ptr<PartitionInfo>>& found,
                         const std::vector<PartitionInfo>& otherVolumes,
                         const std::string& displayName) {
  std::vector<std::uint64_t> lbas;
  for (const ScanHit* h : hits)
    if (h->kind == kHitExfatRootDirectory || h->kind == kHitExfatDirectory) lbas.push_back(h->lba);
  if (lbas.empty()) return false;
  // The rebuild compares with the exFAT volumes already found by their
  // layout only: hand it light copies of those.
  std::vector<const PartitionInfo*> volumes;
  for (const auto& p : found) volumes.push_back(p.get());
  for (const PartitionInfo& p : otherVolumes) volumes.push_back(&p);
  std::vector<PartitionInfo> known;
  for (const PartitionInfo* p : volumes) {
    if (!p || p->fsKind != kFsExfat) continue;
    PartitionInfo light;
    light.fsKind = p->fsKind;
    light.startLba = p->startLba;
    light.sectorCount = p->sectorCount;
    light.bootSector = p->bootSector;
    known.push_back(std::move(light));
  }
  const std::size_t before = known.size();
  ScanProgress progress{};
  progress.stage = kStageParse;
  if (!RebuildExfatFromScan(stopWord, &progress, disk, displayName, lbas, known) ||
      known.size() <= before)
    return false;
  auto rebuilt = std::make_unique<PartitionInfo>(std::move(known.back()));
  rebuilt->origin = kOriginDirectoryEntries;
  rebuilt->fsName = "ExfatDir";
  if (rebuilt->volumeLabel.empty()) rebuilt->volumeLabel = kDefaultVolumeLabel;
  found.push_back(std::move(rebuilt));
  return true;
}

}  // namespace ambrel
