// Rebuilding an exFAT volume whose boot sector is lost from the directory
// sectors a deep scan found.
#include <algorithm>
#include <bit>
#include <optional>
#include <map>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "common/byte_cursor.h"
#include "fs/exfat/exfat_reader.h"

namespace ambrel {
namespace {

struct Run {
  std::uint64_t start;
  std::uint64_t sectors;
};

constexpr std::size_t kMinRuns = 20;
constexpr std::uint64_t kMaxRunSectors = 0x800;  // 1 MiB read per run at most

std::vector<Run> GroupRuns(std::span<const std::uint64_t> lbas) {
  std::vector<std::uint64_t> sorted(lbas.begin(), lbas.end());
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  std::vector<Run> runs;
  for (std::uint64_t lba : sorted) {
    if (!runs.empty() && runs.back().start + runs.back().sectors == lba) ++runs.back().sectors;
    else runs.push_back({lba, 1});
  }
  return runs;
}

// More than 80% of all runs start a whole number of clusters away from one
// of the first quarter of the runs.
bool RunsAgreeWith(const std::vector<Run>& runs, std::uint32_t spc) {
  std::size_t quarter = std::max<std::size_t>(1, runs.size() / 4);
  for (std::size_t i = 0; i < quarter; ++i) {
    std::size_t aligned = 0;
    for (const Run& r : runs) {
      std::uint64_t d = r.start > runs[i].start ? r.start - runs[i].start : runs[i].start - r.start;
      aligned += d % spc == 0;
    }
    if (aligned * 100 > runs.size() * 80) return true;
  }
  return false;
}

// The first live subdirectory set (0x85 with attribute 0x10, then 0xC0) of a
// run: its first cluster, or 0.
std::uint32_t FirstSubdirectoryCluster(const std::vector<std::uint8_t>& bytes) {
  ByteCursor c(bytes.data(), bytes.size());
  for (std::size_t off = 0; off + 64 <= bytes.size(); off += 32) {
    if (bytes[off] == 0x85 && (c.UncheckedU16(off + 4) & 0x10) && bytes[off + 32] == 0xC0)
      return c.UncheckedU32(off + 32 + 20);
  }
  return 0;
}

std::optional<std::uint64_t> EstimateHeap(DiskHandle& handle, const std::vector<Run>& runs, std::uint32_t spc) {
  std::map<std::uint64_t, std::uint32_t> votes;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < runs.size(); ++i) {
    std::uint64_t sectors = std::min(runs[i].sectors, kMaxRunSectors);
    bytes.assign(sectors * kSectorSize, 0);
    ReadSectors(handle, runs[i].start, static_cast<std::uint32_t>(sectors), bytes.data());
    std::uint64_t c = FirstSubdirectoryCluster(bytes);
    if (c < 2) continue;
    std::uint64_t next = runs[i + 1].start;
    if (next >= spc * c) ++votes[next - spc * c];
  }
  if (votes.empty()) return std::nullopt;
  auto best = std::max_element(votes.begin(), votes.end(),
                               [](const auto& a, const auto& b) { return a.second < b.second; });
  return best->first + 2ull * spc;
}

void SetLe32(BootSector& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A boot sector that describes a volume of unknown size whose heap starts at heapLba.
BootSector SyntheticBootSector(std::uint64_t heapLba, std::uint32_t spc) {
  BootSector b{};
  SetLe32(b, 88, static_cast<std::uint32_t>(heapLba));
  SetLe32(b, 92, 0xFFFFFFF0u);
  b[108] = 9;
  b[109] = static_cast<std::uint8_t>(std::countr_zero(spc));
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

}  // namespace

std::uint32_t EstimateExfatClusterSize(std::span<const std::uint64_t> runStarts) {
  if (runStarts.size() < kMinRuns) return 0;
  std::uint32_t votes[16] = {};
  for (std::size_t i = 1; i < runStarts.size(); ++i) {
    std::uint32_t d = static_cast<std::uint32_t>(runStarts[i] - runStarts[i - 1]);
    for (unsigned k = 0; k < 16; ++k)
      if (d % (1u << k) == 0) ++votes[k];
  }
  if (votes[1] == 0) return 0;
  std::uint32_t spc = 0;
  for (unsigned k = 0; k < 16; ++k)
    if (std::uint64_t(votes[k]) * 100 / votes[1] > 80) spc = 1u << k;
  return spc;
}

bool RebuildExfatFromScan(const std::atomic<std::uint32_t>* stopWord, ScanProgress* progress, DiskHandle& handle,
                          const std::string& displayName, std::span<const std::uint64_t> directoryHitLbas,
                          std::vector<PartitionInfo>& partitions) {
  if (GetSetting("ParseFileSys") != "1") return false;
  std::vector<Run> runs = GroupRuns(directoryHitLbas);
  std::vector<std::uint64_t> starts;
  for (const Run& r : runs) starts.push_back(r.start);
  std::uint32_t spc = EstimateExfatClusterSize(starts);
  if (spc == 0 || !RunsAgreeWith(runs, spc)) return false;
  auto heap = EstimateHeap(handle, runs, spc);
  if (!heap || *heap > 0xFFFFFFFFull) return false;
  for (const PartitionInfo& known : partitions) {
    if (known.fsKind != kFsExfat) continue;
    auto g = ExfatGeometryOf(known);
    if (g && g->ClusterLba(2) == *heap) return false;
  }
  PartitionInfo p;
  p.fsKind = kFsExfatDirScan;
  p.startLba = 0;
  p.sectorCount = kUnknownPartitionSize;
  p.bootSector = SyntheticBootSector(*heap, spc);
  p.displayName = displayName;
  InitTable(p.table);
  while (!(stopWord && stopWord->load() == 2)) {
    auto pick = std::find_if(runs.begin(), runs.end(), [&](const Run& r) {
      return r.start >= *heap && (r.start - *heap) % spc == 0;
    });
    if (pick == runs.end()) break;
    std::uint64_t cluster = (pick->start - *heap) / spc + 2;
    ReadExfatDirectory(stopWord, progress, handle, p, static_cast<std::uint32_t>(cluster), kExfatRootByteLimit,
                       kRootId);
    // Drop the chosen run and every run the directories just read cover.
    std::uint64_t chosen = pick->start;
    runs.erase(pick);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> covered;
    for (std::uint32_t id = 6; id < p.table.count; ++id) {
      const FoundFileNode* n = NodeAt(p.table, id);
      if (n && IsFolderKind(KindOf(*n)) && n->firstCluster >= 2) {
        std::uint64_t lba = *heap + std::uint64_t(n->firstCluster - 2) * spc;
        covered.emplace_back(lba, lba + std::max<std::uint64_t>(spc, (n->size + 511) / 512));
      }
    }
    covered.emplace_back(chosen, chosen + spc);
    std::erase_if(runs, [&](const Run& r) {
      for (const auto& [lo, hi] : covered)
        if (r.start >= lo && r.start < hi) return true;
      return false;
    });
  }
  LinkAll(p.table);
  partitions.push_back(std::move(p));
  return true;
}

}  // namespace ambrel
