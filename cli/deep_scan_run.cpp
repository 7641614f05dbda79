#include "deep_scan_run.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "fs/boot_probe.h"
#include "platform/interrupt.h"
#include "platform/terminal_keys.h"
#include "scan_progress.h"

namespace ambrel::cli {

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

void FollowScan(ScanSession& scan) {
  TerminalKeys keys;
  ScanProgressLine line(stderr, StderrIsTerminal());
  CatchInterrupts();
  while (scan.State() == kScanRunning || scan.State() == kScanPaused) {
    if (InterruptRequested()) scan.Stop();
    if (auto key = keys.Poll(); key && (*key == 'p' || *key == ' ')) {
      if (scan.State() == kScanPaused) scan.Resume();
      else scan.Pause();
    }
    line.Show(scan.Progress(), scan.ElapsedSeconds(), scan.State() == kScanPaused);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  scan.Join();
  line.Finish(scan.Progress(), scan.ElapsedSeconds());
  std::fprintf(stderr, "%s\n", scan.Completed() ? "scan finished" : "scan stopped");
}

bool RunScanWithProgress(ScanSession& scan) {
  if (!scan.Start()) return false;
  FollowScan(scan);
  return scan.Completed();
}

}  // namespace ambrel::cli
