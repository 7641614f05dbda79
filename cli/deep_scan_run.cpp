#include "deep_scan_run.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "scan_progress.h"
#include "session/program.h"

namespace ambrel::cli {

void FollowScan(ScanJob& scan) {
  TerminalKeys keys;
  ScanProgressLine line(stderr, StderrIsTerminal());
  CatchInterrupts();
  while (scan.Running()) {
    if (InterruptRequested()) scan.Stop();
    if (auto key = keys.Poll(); key && (*key == 'p' || *key == ' ')) {
      if (scan.Paused()) scan.Resume();
      else scan.Pause();
    }
    line.Show(scan.Progress(), scan.ElapsedSeconds(), scan.Paused());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  scan.Join();
  line.Finish(scan.Progress(), scan.ElapsedSeconds());
  std::fprintf(stderr, "%s\n", scan.Completed() ? "scan finished" : "scan stopped");
}

bool RunScanWithProgress(ScanJob& scan) {
  if (!scan.Start()) return false;
  FollowScan(scan);
  return scan.Completed();
}

}  // namespace ambrel::cli
