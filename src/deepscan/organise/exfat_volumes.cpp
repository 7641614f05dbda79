#include "deepscan/organise/exfat_volumes.h"

#include <algorithm>
#include <bit>
#include <set>

#include "catalog/node_table.h"
#include "device/device_enum.h"
#include "fs/exfat/exfat_former_layout.h"
#include "fs/exfat/exfat_reader.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxLayoutRuns = 4096;          // directory runs read to solve a layout
constexpr std::uint64_t kMaxRunReadSectors = 512;     // 256 KiB of each run

void SetLe32(BootSector& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

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
    const std::uint64_t volumeEnd = volume->startLba + volume->sectorCount;
    // The runs of directory sectors inside the volume: the old directories
    // (the new volume's own hits are retired before).
    std::vector<std::uint64_t> lbas;
    for (const ScanHit* h : hits)
      if ((h->kind == kHitExfatRootDirectory || h->kind == kHitExfatDirectory) && h->lba >= volume->startLba &&
          h->lba < volumeEnd)
        lbas.push_back(h->lba);
    std::sort(lbas.begin(), lbas.end());
    lbas.erase(std::unique(lbas.begin(), lbas.end()), lbas.end());
    std::vector<FormerDirectoryRun> runs;
    std::vector<std::uint64_t> runSectors;
    for (std::uint64_t lba : lbas) {
      if (runs.empty() || lba != runs.back().lba + runSectors.back()) {
        runs.push_back({lba, {}, {}});
        runSectors.push_back(1);
      } else {
        ++runSectors.back();
      }
    }
    if (runs.empty()) continue;
    // Where the old volume had another cluster size or heap (formatted
    // again with other options), its directories name their subfolders
    // by clusters of that old layout: solve it from those links first.
    std::uint64_t heap = g->ClusterLba(2);
    std::uint32_t spc = g->spc;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < runs.size() && i < kMaxLayoutRuns; ++i) {
      if (stopWord && stopWord->load() == 2) return appended;
      const std::uint32_t sectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(runSectors[i], kMaxRunReadSectors));
      bytes.assign(std::size_t{sectors} * kSectorSize, 0);
      if (!ReadSectors(disk, runs[i].lba, sectors, bytes.data())) continue;
      runs[i].children = ExfatSubdirectoryClusters(bytes);
      runs[i].files = ExfatFileClusters(bytes);
    }
    auto former = SolveFormerExfatLayout(runs, volume->startLba + 1);
    if (!former) {
      // No two folders that name each other survived: the files' first
      // clusters against the signatures found place the old heap.
      std::vector<SignatureStart> signatures;
      for (const ScanHit* h : hits)
        if (IsSignatureKind(h->kind) && h->lba >= volume->startLba && h->lba < volumeEnd)
          signatures.push_back({h->lba, HitKindName(h->kind)});
      former = SolveFormerExfatLayoutByFiles(runs, signatures, volume->startLba + 1);
    }
    if (former) {
      heap = former->heapLba;
      spc = former->sectorsPerCluster;
    }
    if (heap >= volumeEnd || heap - volume->startLba > 0xFFFFFFFFull) continue;
    std::set<std::uint32_t> clusters;
    std::size_t offStart = 0;
    for (const FormerDirectoryRun& r : runs) {
      if (r.lba < heap) continue;  // before the heap: the new volume's FAT region
      if ((r.lba - heap) % spc != 0) {
        ++offStart;
        continue;
      }
      const std::uint64_t cluster = (r.lba - heap) / spc + 2;
      if (cluster <= 0xFFFFFFF6ull) clusters.insert(static_cast<std::uint32_t>(cluster));
    }
    // Without links to solve from, the old layout is taken to be the new
    // one only when the runs start on its cluster boundaries.
    if (clusters.empty() || (!former && offStart * 10 > runs.size())) continue;
    PartitionInfo layout;
    layout.fsKind = kFsExfatDirScan;
    layout.startLba = volume->startLba;
    layout.sectorCount = volume->sectorCount;
    layout.bootSector = volume->bootSector;
    if (heap != g->ClusterLba(2) || spc != g->spc) {
      // The old layout in the new boot sector's copy: heap offset, cluster
      // count to the volume's end, cluster shift.
      const std::uint64_t count = std::min<std::uint64_t>((volumeEnd - heap) / spc, 0xFFFFFFF5ull);
      SetLe32(layout.bootSector, 88, static_cast<std::uint32_t>(heap - volume->startLba));
      SetLe32(layout.bootSector, 92, static_cast<std::uint32_t>(count));
      layout.bootSector[109] = static_cast<std::uint8_t>(std::countr_zero(spc));
    }
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
