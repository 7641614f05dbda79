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

WholeDeviceScan ScanWholeDevice(SourceSession& source, int modeNumber) {
  WholeDeviceScan result;
  std::optional<PartitionInfo> area = source.ScanArea();
  if (!area) return result;
  KeptMessagesPrompt prompt;
  ScanJobOptions options;
  options.organiseDelayMs = 0;
  options.prompt = &prompt;
  options.useStateFile = false;
  const RecoveryMode mode = ModeFromNumber(modeNumber);
  const DeepScanSettings settings = DefaultScanSettings(*area, mode);
  ScanJob scan(std::move(*area), mode, settings, std::move(options));
  if (!RunScanWithProgress(scan)) {
    result.outcome = WholeDeviceScan::Outcome::kStopped;
    return result;
  }
  result.outcome = WholeDeviceScan::Outcome::kCompleted;
  result.catalog = std::make_unique<FoundFileCatalog>();
  result.catalog->LoadResults(scan.TakeResults(), nullptr);
  result.messages = std::move(prompt.messages);
  result.recordings = scan.Recordings();
  return result;
}

}  // namespace ambrel::cli
