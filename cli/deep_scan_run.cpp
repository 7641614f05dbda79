#include "deep_scan_run.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <thread>

#include "fs/boot_probe.h"
#include "platform/interrupt.h"

namespace ambrel::cli {
namespace {

void PrintProgressLine(const ScanProgress& p) {
  if (p.stage != kStageDeepScan || p.u.scan.totalSectors == 0) return;
  const auto& s = p.u.scan;
  std::fprintf(stderr, "\rscanned %" PRIu64 " / %" PRIu64 " sectors (%u%%)  files %u  boot %u  FILE %u  ",
               s.doneSectors, s.totalSectors,
               static_cast<unsigned>(std::min<std::uint64_t>(100, s.doneSectors * 100 / s.totalSectors)),
               s.filesFound, s.kinds[1] + s.kinds[2] + s.kinds[3], s.kinds[4]);
}

}  // namespace

bool PrepareScanTarget(const std::string& path, const char* command, ScanTarget& out) {
  std::string why;
  if (!DescribeDisk(path, out.description, JudgeSector, &why)) {
    std::fprintf(stderr, "ambrel-cli %s: %s: %s\n", command, path.c_str(), why.c_str());
    return false;
  }
  PartitionInfo& disk = out.disk;
  const auto& volumes = out.description.volumes;
  if (volumes.size() == 1 && volumes[0].startLba == 0) MakePartitionInfo(volumes[0], disk);
  disk.startLba = 0;
  disk.sectorCount = disk.diskSectorCount = out.description.disk.sectorCount;
  disk.removable = out.description.disk.removable;
  disk.diskPath = disk.displayName = path;
  disk.diskName = path;  // the scan-state identity is the full path
  return true;
}

bool RunScanWithProgress(ScanSession& scan) {
  CatchInterrupts();
  if (!scan.Start()) return false;
  while (scan.State() == kScanRunning || scan.State() == kScanPaused) {
    if (InterruptRequested()) scan.Stop();
    PrintProgressLine(scan.Progress());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  scan.Join();
  PrintProgressLine(scan.Progress());
  std::fprintf(stderr, "\n%s\n", scan.Completed() ? "scan finished" : "scan stopped");
  return scan.Completed();
}

}  // namespace ambrel::cli
