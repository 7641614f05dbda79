// Builds the owner map of a synthetic NTFS volume of many files (each live
// file two runs, the deleted files' runs partly on live clusters) and plans
// every file against it, as `list` does.
//
//   bench_cluster_owners [FILES]   (default 1,000,000; a third deleted)
//
// Reports the time of the map, of the planning pass and the peak memory
// (and the peak before the map: the node table itself).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "catalog/node_table.h"
#include "catalog/partition_info.h"
#include "fs/cluster_map.h"
#include "recovery/file_plan.h"

using namespace ambrel;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Two runs of `length` clusters: at `lcn` and 3 x length further on (4-byte
// offsets and lengths).
void PutRuns(FoundFileNode& n, std::uint32_t lcn, std::uint32_t length) {
  std::uint8_t runs[19] = {0x44};
  std::memcpy(runs + 1, &length, 4);
  std::memcpy(runs + 5, &lcn, 4);
  runs[9] = 0x44;
  const std::uint32_t delta = 3 * length;
  std::memcpy(runs + 10, &length, 4);
  std::memcpy(runs + 14, &delta, 4);
  runs[18] = 0;
  n.extra = std::malloc(sizeof runs);
  std::memcpy(n.extra, runs, sizeof runs);
  n.firstCluster = sizeof runs;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint32_t files = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 1000000;
  PartitionInfo p;
  p.fsKind = kFsNtfs;
  p.bootSector[11] = 0x00;
  p.bootSector[12] = 0x02;  // 512 bytes per sector
  p.bootSector[13] = 8;     // 4 KiB clusters
  p.bootSector[0x40] = 0xF6;
  p.sectorCount = std::uint64_t{files} * 64 * 8;
  InitTable(p.table);
  for (std::uint32_t i = 0; i < files; ++i) {
    FoundFileNode n{};
    n.parentId = kRootId;
    n.size = 8 * 4096;
    const bool deleted = i % 3 == 0;
    SetKind(n, deleted ? kDeletedFile : kPresentFile);
    // Live files lie 64 clusters apart; a deleted one lies half on the
    // live file before it.
    PutRuns(n, deleted ? (i ? 64 * (i - 1) + 18 : 2) : 64 * i + 16, 4);
    n.name = CopyNodeName(("f" + std::to_string(i)).c_str());
    AddNode(p.table, n, false);
  }
  LinkAll(p.table);
  const long tableKiB = PeakKiB();
  const auto built = Clock::now();
  BuildClusterOwners(p);
  const double mapSeconds = Seconds(built);
  const auto planned = Clock::now();
  std::uint64_t overwritten = 0;
  for (std::uint32_t id = kRootId + 1; id < p.table.count; ++id) {
    const FoundFileNode* n = NodeAt(p.table, id);
    if (n && IsFileKind(KindOf(*n)))
      overwritten += PlanFileData(*n, p, 0, UINT64_MAX - 1).overwrite != OverwriteState::kIntact &&
                     KindOf(*n) == kDeletedFile;
  }
  std::printf("%u files: owner map %.2f s (%zu ranges), planning %.2f s, %llu deleted files overwritten, peak %ld MiB (%ld MiB before the map)\n",
              files, mapSeconds, p.clusterOwners ? p.clusterOwners->RunCount() : 0, Seconds(planned),
              static_cast<unsigned long long>(overwritten), PeakKiB() / 1024, tableKiB / 1024);
  return 0;
}
