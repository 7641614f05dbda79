// One deep scan started from the window: the session's scan job with the
// window's notices and prompt, and the results it leaves. The window owns
// the run; a new scan replaces it, so two scans share nothing.
//
// Threads: every method runs on the GUI thread. The scan's own threads
// raise their notices through the window's bridge, which blocks them until
// the GUI thread has handled each one; so the GUI thread never waits for
// those threads without processing events (see Finish).
#pragma once

#include <memory>
#include <vector>

#include "catalog/found_file_catalog.h"
#include "session/scan_job.h"
#include "session/worded_prompt.h"

namespace ambrel::ui {

class DeepScanRun {
 public:
  // `window` receives 0x466 / 0x467; `catalog` the live results.
  DeepScanRun(PartitionInfo partition, RecoveryMode mode, DeepScanSettings settings, NoticeListener* window,
              WordedPrompt* prompt, FoundFileCatalog* catalog, DeviceLists devices = {});
  ~DeepScanRun();
  DeepScanRun(const DeepScanRun&) = delete;
  DeepScanRun& operator=(const DeepScanRun&) = delete;

  bool Start() { return job_->Start(); }
  ScanJob& job() { return *job_; }
  bool Running() const { return job_->Running(); }
  // What the copy-out guard reads: the live state of this scan.
  ScanGateInput Gate() const { return job_->Gate(); }
  // The organised results, once 0x467 has been raised (with the video
  // partition when the video reassembly ran).
  std::vector<std::unique_ptr<PartitionInfo>> TakeResults() { return job_->TakeResults(); }
  // Stops a running scan (the window closes: no save offer) and waits for
  // its threads while the GUI thread keeps handling their notices.
  void Finish(bool closing);

 private:
  std::unique_ptr<ScanJob> job_;
};

// The settings of a scan of `partition` in `mode` with the options the
// settings dialog stored.
DeepScanSettings SettingsFromOptions(const PartitionInfo& partition, RecoveryMode mode);
// The video settings of a scan: the program's, with the dialog's switches
// once it stored them.
video::VideoSettings VideoSettingsFromOptions();

}  // namespace ambrel::ui
