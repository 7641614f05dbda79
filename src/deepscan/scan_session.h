// One deep scan: every piece of its state, from preparation to clean-up.
// A session is created per scan; two scans share nothing.
//
// Threads:
//  - Start, Pause, Resume, Stop, Join, Progress, GateFacts: the front end's
//    (interface or CLI) thread.
//  - DiskScanAndViewThread runs on the thread Start creates: it prepares the
//    scan, starts the hand thread and then reads chunks (the producer).
//  - DiskFileScanHandThread runs on its own thread: it takes chunks from the
//    ring, analyses them and runs the end-of-scan sequence.
//  - NextChunk: the producer only. PushHint: the hand thread (analysis).
// The state word, the producer-done flag and the chunk map bytes are atomic;
// the ring, the priority list, the hit lists and the progress copy each have
// their own lock, held for one copy or list operation only.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "app/notify.h"
#include "app/progress.h"
#include "deepscan/chunk_plan.h"
#include "deepscan/chunk_ring.h"
#include "deepscan/free_space.h"
#include "deepscan/scan_hit.h"
#include "deepscan/scan_settings.h"
#include "deepscan/sector_hit.h"
#include "device/device_enum.h"
#include "device/disk_handle.h"
#include "catalog/partition_info.h"

namespace ambrel {

// The state of a scan. Its number is the value of the shared 32-bit state
// word that the scan's threads and the readers it starts poll (0 running,
// 1 paused, 2 stopped or stop requested, 3 finished).
enum class ScanState : std::uint32_t { kRunning = 0, kPaused = 1, kStopped = 2, kFinished = 3 };
constexpr std::uint32_t Word(ScanState state) { return static_cast<std::uint32_t>(state); }

// What the scan did with one chunk; its number is the chunk's byte in the
// scan-state file (where only kAnalysed is kept).
enum class ChunkState : std::uint8_t { kUnread = 0, kHandedOut = 1, kAnalysed = 2 };
// Notices to the main window around the organisation of the results.
inline constexpr std::uint32_t kNoticeOrganiseBegin = 0x466;
inline constexpr std::uint32_t kNoticeOrganiseEnd = 0x467;

class ScanSession;

// What later steps of the scan plug in: the signature carving and the
// organisation of the results. Every method runs on the hand thread.
class ScanExtensions {
 public:
  virtual ~ScanExtensions() = default;
  // Tests the sector at `index` for a file signature; on a hit appends it
  // to `out` and returns true (the sector classifier is then not asked).
  // `disk` reads beyond the chunk (a size rule's window that straddles it).
  virtual bool DetectSignature(const ChunkData&, std::uint32_t /*index*/, std::uint64_t /*lba*/,
                               ChunkHitBuilder& /*out*/, SectorHitSource& /*disk*/) {
    return false;
  }
  // A FILE record inside an MFT extent already known is not recorded.
  virtual bool InKnownMftExtent(std::uint64_t /*lba*/) { return false; }
  // After a chunk's sectors, before its hits are stored (pending carves,
  // live results).
  virtual void AfterChunk(ScanSession&, const ChunkData&, HitList& /*hits*/,
                          SectorHitSource& /*disk*/) {}
  // Before the first chunk when `liveResults` is set: "Add real part info".
  virtual void AddRealPartitions(ScanSession&) {}
  // At the end of a completed scan, between the two notices.
  virtual bool OrganiseResults(ScanSession&) { return false; }
};

// An analysing thread that replaces the normal one (the video
// reassembly): it sees every chunk in place of the signature and sector
// tests, and its organisation in place of the normal one. Every method
// runs on the hand thread.
class ChunkAnalyser {
 public:
  virtual ~ChunkAnalyser() = default;
  // The hand thread's name in the log.
  virtual const char* ThreadName() const = 0;
  // The progress stage of the scan (2, or 13 for a transport-stream scan).
  virtual std::uint32_t ProgressStage() const { return kStageDeepScan; }
  // Analyses one chunk; its hits go to `hits` (stored with the chunk).
  virtual void AnalyseChunk(ScanSession& session, const ChunkData& chunk, HitList& hits,
                            SectorHitSource& disk) = 0;
  // The count the progress record shows as found.
  virtual std::uint32_t FoundCount() const { return 0; }
  // At the end of a completed scan, between the two notices.
  virtual bool Organise(ScanSession& session) = 0;
};

struct ScanEnvironment {
  NoticeListener* listener = nullptr;
  UserPrompt* prompt = nullptr;
  ScanExtensions* extensions = nullptr;
  // When set, its thread analyses the chunks instead of the normal one.
  ChunkAnalyser* analyser = nullptr;
  // Opens the scanned disk read-only (default: OpenPartition).
  std::function<bool(const PartitionInfo&, DiskHandle&)> open;
  // Seconds of the wall clock (default: time()).
  std::function<std::int64_t()> clock;
  std::uint32_t pollMs = 100;
  std::uint32_t pauseMs = 1000;
  std::uint32_t organiseDelayMs = 500;
  // Where the progress records go (null: nowhere); the scan's threads bind
  // it while they run.
  ProgressMailbox* progress = nullptr;
  // The machine's disks and volumes as the front end enumerated them, for
  // the real volumes of the scanned area (empty: the disk's own table).
  DeviceLists devices;
  // The scan-state file; empty: none is offered, loaded or saved.
  std::string stateFilePath;
  // Minutes between silent checkpoint saves (0: none).
  std::uint32_t checkpointMinutes = 0;
  // The end-of-scan save is offered however short the scan was (normally
  // only after two minutes). A save asked for after the scan would come
  // after the organisation, which retires the hits it used.
  bool offerSaveOfShortScans = false;
};

// The setting ScanCheckpointMinutes as a count of minutes (10 when absent).
std::uint32_t CheckpointMinutesSetting();

// What the copy-out guard needs to know about the scan.
struct ScanGateFacts {
  ScanState state = ScanState::kStopped;
  std::int32_t partitionFsKind = 0;
  RecoveryMode recoveryMode = RecoveryMode::kDiskFiles;
};

class ScanSession {
 public:
  ScanSession(PartitionInfo partition, RecoveryMode mode, DeepScanSettings settings, ScanEnvironment env);
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  // ---- front end ----
  // Falls back to mode 3 where free space cannot be read, sets the state to
  // running and starts DiskScanAndViewThread. False when a scan of this
  // session already ran.
  bool Start();
  void Pause();
  void Resume();
  void Stop();
  // Marks the application as closing (no save offer).
  void SetClosing() { closing_ = true; }
  // Waits for both threads.
  void Join();
  ScanState State() const { return static_cast<ScanState>(state_.load()); }
  const std::atomic<std::uint32_t>* StateWord() const { return &state_; }
  ScanProgress Progress() const;
  // Seconds scanned, pauses excluded.
  std::int64_t ElapsedSeconds() const;
  ScanGateFacts GateFacts() const;
  RecoveryMode Mode() const { return mode_; }
  std::uint64_t ReadsCounted() const { return reads_.load(); }
  std::uint64_t ReadsFailed() const { return failedReads_.load(); }
  bool Completed() const { return completed_.load(); }

  // ---- the scan's data (the hand thread, or after Join) ----
  const PartitionInfo& Partition() const { return partition_; }
  const DeepScanSettings& Settings() const { return settings_; }
  ScanRange Range() const { return range_; }
  bool LargeWholeDisk() const { return largeWholeDisk_; }
  std::uint64_t ChunkCount() const { return chunkCount_; }
  ChunkState ChunkStateOf(std::uint64_t chunk) const;
  // Copies of one chunk's hits are not made; walk them under the lock.
  void ForEachHit(const std::function<void(const ScanHit&)>& fn) const;
  // Changes the stored hits of one chunk under the lock (a pending carve
  // finished by a later chunk). False when the chunk is out of range.
  bool UpdateChunkHits(std::uint64_t chunk, const std::function<void(HitList&)>& fn);
  // The hits of every chunk, for the organisation at the end of the scan
  // (the hand thread, after the last chunk; nothing else writes them then).
  std::vector<HitList>& ChunkHitsForOrganisation() { return chunkHits_; }
  const ScanEnvironment& Environment() const { return env_; }
  const FreeSpaceMap& FreeSpace() const { return freeSpace_; }
  // A partition start is parsed once per scan: true the first time.
  bool IsNewPartitionStart(std::uint64_t lba);

  // Writes the scan-state file (chunk map and hits). Threads: the hand
  // thread (checkpoints, end-of-scan offer) or the front end while paused
  // (SaveOnDemand). A session without a map succeeds without writing.
  bool SaveScan();
  // The progress view's save button: pauses a running scan, saves, resumes,
  // and shows the outcome.
  bool SaveOnDemand();
  // Publishes a record of another stage (the organisation's own progress);
  // Progress keeps the scan's record, StageProgress returns this one.
  void PublishStage(const ScanProgress& record);
  ScanProgress StageProgress() const;

  // ---- threads ----
  void DiskScanAndViewThread();
  void DiskFileScanHandThread();
  // The hand thread when the environment carries an analyser.
  void VideoFragmentScanHandThread();
  bool NextChunk(std::uint64_t& lba);
  // Puts a chunk at the front of the priority list (large whole disks only).
  void PushHint(std::uint64_t lba);

 private:
  class HitSource;
  bool Prepare();
  void BuildPriorityList();
  void RunProducer();
  bool ReadChunk(DiskHandle& handle, std::uint64_t lba, std::uint8_t* slot);
  void ReportReadErrors();
  void InitHandProgress();
  void ConsumeChunks(void (ScanSession::*analyse)(const std::uint8_t*, DiskHandle&));
  void ProcessChunk(const std::uint8_t* slot, DiskHandle& handle);
  void AnalyseChunk(const std::uint8_t* slot, DiskHandle& handle);
  void StoreChunkHits(std::uint64_t first, HitList& hits);
  void CountHit(std::uint8_t kind);
  std::uint64_t ProgressSectorsOf(std::uint64_t chunkLba) const;
  void PushChunkHints(const HitList& hits);
  void EndOfScan();
  void OfferSave();
  bool LoadSavedScan();
  void MaybeCheckpoint();
  void SleepMs(std::uint32_t ms) const;
  std::int64_t Now() const;
  void PublishCopy();

  PartitionInfo partition_;
  RecoveryMode requestedMode_;
  RecoveryMode mode_;
  DeepScanSettings settings_;
  ScanEnvironment env_;

  std::atomic<std::uint32_t> state_{Word(ScanState::kStopped)};
  std::atomic<bool> producerDone_{false};
  std::atomic<bool> completed_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> started_{false};
  bool largeWholeDisk_ = false;

  ScanRange range_;
  std::atomic<std::uint64_t> cursor_{0};  // the producer's; read by saves
  std::uint64_t chunkCount_ = 0;
  std::unique_ptr<std::atomic<ChunkState>[]> chunkMap_;
  mutable std::mutex hitsLock_;
  std::vector<HitList> chunkHits_;
  std::unique_ptr<ChunkRing> ring_;
  std::mutex priorityLock_;
  std::deque<std::uint64_t> priority_;
  std::uint64_t priorityTotal_ = 0;
  FreeSpaceMap freeSpace_;
  std::mutex knownLock_;
  std::set<std::uint64_t> knownStarts_;

  mutable std::mutex timeLock_;
  std::int64_t startTime_ = 0;
  std::int64_t pausedTotal_ = 0;
  std::int64_t pauseStart_ = 0;
  bool paused_ = false;

  std::int64_t lastCheckpoint_ = 0;
  std::mutex saveLock_;
  std::atomic<std::uint64_t> reads_{0};
  std::atomic<std::uint64_t> failedReads_{0};

  ScanProgress handProgress_{};  // the hand thread's own copy
  mutable std::mutex progressLock_;
  ScanProgress published_{};
  ScanProgress stagePublished_{};

  std::thread top_;
  std::thread hand_;
};

}  // namespace ambrel
