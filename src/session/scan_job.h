// One deep scan as a face runs it: the scan of an area of a source, with
// the signature carver and the result organisation plugged in, its own
// progress mailbox, and the scan-state file in the program folder.
//
// Threads: every method runs on the face's thread; the scan runs on its
// own threads (see ScanSession). Two jobs share nothing.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/notify.h"
#include "app/progress.h"
#include "catalog/found_file_catalog.h"
#include "deepscan/deep_scan_extensions.h"
#include "deepscan/scan_session.h"
#include "deepscan/scan_settings.h"
#include "recovery/copy_out.h"
#include "video/video_reassembly.h"

namespace ambrel {

struct ScanJobOptions {
  NoticeListener* listener = nullptr;      // 0x466 / 0x467
  UserPrompt* prompt = nullptr;            // the reuse and save questions, the read-error report
  FoundFileCatalog* liveCatalog = nullptr; // receives results while the scan runs
  bool useStateFile = true;                // offer, load and save DiskScanData.dat
  bool offerSaveOfShortScans = false;      // offer the end-of-scan save before two minutes too
  std::uint32_t organiseDelayMs = 500;     // a window redraws before the organisation
  DeviceLists devices;                     // the machine's volumes, for the real ones in the area
  // The video reassembly's switches and lists; empty: the program's
  // settings (MovFragRecovery, MtsFragRecovery, VideoSample...).
  std::optional<video::VideoSettings> video;
};

// The video settings as the program's settings give them.
video::VideoSettings ProgramVideoSettings();

class ScanJob {
 public:
  ScanJob(PartitionInfo area, RecoveryMode mode, DeepScanSettings settings, ScanJobOptions options);
  ~ScanJob();
  ScanJob(const ScanJob&) = delete;
  ScanJob& operator=(const ScanJob&) = delete;

  bool Start() { return session_->Start(); }
  void Pause() { session_->Pause(); }
  void Resume() { session_->Resume(); }
  void Stop() { session_->Stop(); }
  // The application closes: no save offer.
  void SetClosing() { session_->SetClosing(); }
  void Join() { session_->Join(); }

  bool Running() const;
  bool Paused() const;
  bool Completed() const { return session_->Completed(); }
  RecoveryMode Mode() const { return session_->Mode(); }
  // The latest record of the scan's mailbox (stages 2, 7, 8, 10, 11, 12).
  bool TakeProgress(ScanProgress& out) { return mailbox_.Take(out); }
  // The scan's own figures, whatever the mailbox dropped.
  ScanProgress Progress() const { return session_->Progress(); }
  std::int64_t ElapsedSeconds() const { return session_->ElapsedSeconds(); }
  // What the copy-out guard reads: the live state of this scan.
  ScanGateInput Gate() const;

  bool SaveScan() { return session_->SaveScan(); }
  bool SaveOnDemand() { return session_->SaveOnDemand(); }
  const std::string& StateFilePath() const { return stateFilePath_; }

  // The organised results (real, lost and rebuilt volumes, found files,
  // and the rebuilt recordings' volume "视频文件"), once the scan has ended.
  std::vector<std::unique_ptr<PartitionInfo>> TakeResults();
  // Whether the video reassembly analyses this scan's chunks, and the
  // recordings it rebuilt (after Join).
  bool ReassemblesVideo() const { return video_ != nullptr; }
  const std::vector<video::Recording>& Recordings() const;
  // The scan's hits and structures, for a report after Join.
  const ScanSession& Scan() const { return *session_; }

 private:
  ProgressMailbox mailbox_;
  DeepScanExtensions extensions_;
  std::unique_ptr<video::VideoReassembly> video_;  // outlives the session that calls it
  std::string stateFilePath_;
  std::unique_ptr<ScanSession> session_;
};

// The files found by signature among a scan's results (null when none).
const PartitionInfo* FoundFilesOf(const std::vector<std::unique_ptr<PartitionInfo>>& results);

// One carved file of the found-files partition.
struct CarvedFileRow {
  std::uint32_t type = 0;
  std::string extension;
  std::string name;
  std::uint64_t lba = 0;
  std::uint64_t size = 0;
  bool structural = false;  // the size was read from the file's structure, not the gap
};

// The file nodes of a found-files partition, by LBA; empty for null.
std::vector<CarvedFileRow> CarvedFileRows(const PartitionInfo* found);

}  // namespace ambrel
