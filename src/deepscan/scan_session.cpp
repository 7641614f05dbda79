#include "deepscan/scan_session.h"

#include <chrono>
#include <cinttypes>
#include <ctime>

#include "common/text.h"
#include "app/settings.h"
#include "deepscan/scan_state_file.h"
#include "platform/files.h"
#include "platform/fs_identity.h"
#include "deepscan/sector_classifier.h"
#include "diag/log.h"
#include "diag/threads.h"

namespace ambrel {

// Reads for the hit payloads (a FILE record continued in the next chunk,
// the GPT entries) through the hand thread's own handle.
class ScanSession::HitSource final : public SectorHitSource {
 public:
  HitSource(ScanSession& session, DiskHandle& handle) : session_(session), handle_(handle) {}
  bool ReadDisk(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) override {
    return handle_.IsOpen() && ReadSectors(handle_, lba, count, out);
  }
  void PushHint(std::uint64_t lba) override { session_.PushHint(lba); }

 private:
  ScanSession& session_;
  DiskHandle& handle_;
};

ScanSession::ScanSession(PartitionInfo partition, RecoveryMode mode, DeepScanSettings settings,
                         ScanEnvironment env)
    : partition_(std::move(partition)), requestedMode_(mode), mode_(mode),
      settings_(settings), env_(std::move(env)) {
  if (!env_.open) env_.open = [](const PartitionInfo& p, DiskHandle& h) { return OpenPartition(p, h); };
  if (!env_.clock) env_.clock = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
}

ScanSession::~ScanSession() {
  if (state_.load() == Word(ScanState::kRunning) || state_.load() == Word(ScanState::kPaused)) Stop();
  Join();
}

bool ScanSession::Start() {
  if (started_.exchange(true)) return false;
  mode_ = EffectiveScanMode(partition_, requestedMode_);
  if (IsFreeSpaceMode(mode_) && !freeSpace_.Load(partition_)) mode_ = RecoveryMode::kPartitionFiles;
  LogLine(LogCode::kScanStart, Format("%" PRIu64 "(GB) %" PRIu64 "(GB)  %s  %s", partition_.sectorCount >> 21,
                     partition_.freeSectors >> 21, partition_.fsName.c_str(),
                     partition_.volumeLabel.c_str()));
  largeWholeDisk_ = IsLargeWholeDisk(partition_);
  {
    std::lock_guard<std::mutex> guard(timeLock_);
    startTime_ = Now();
    pausedTotal_ = 0;
    paused_ = false;
  }
  state_.store(Word(ScanState::kRunning));
  top_ = std::thread([this] { DiskScanAndViewThread(); });
  return true;
}

void ScanSession::Pause() {
  std::uint32_t expected = Word(ScanState::kRunning);
  if (!state_.compare_exchange_strong(expected, Word(ScanState::kPaused))) return;
  std::lock_guard<std::mutex> guard(timeLock_);
  paused_ = true;
  pauseStart_ = Now();
}

void ScanSession::Resume() {
  std::uint32_t expected = Word(ScanState::kPaused);
  if (!state_.compare_exchange_strong(expected, Word(ScanState::kRunning))) return;
  std::lock_guard<std::mutex> guard(timeLock_);
  if (paused_) pausedTotal_ += Now() - pauseStart_;
  paused_ = false;
}

void ScanSession::Stop() {
  {
    std::lock_guard<std::mutex> guard(timeLock_);
    if (paused_) pausedTotal_ += Now() - pauseStart_;
    paused_ = false;
  }
  // A finished scan stays finished; running or paused becomes a stop.
  std::uint32_t word = state_.load();
  while (word != Word(ScanState::kFinished) && !state_.compare_exchange_weak(word, Word(ScanState::kStopped))) {
  }
}

void ScanSession::Join() {
  if (top_.joinable()) top_.join();
  if (hand_.joinable()) hand_.join();
}

std::int64_t ScanSession::Now() const { return env_.clock(); }

std::int64_t ScanSession::ElapsedSeconds() const {
  std::lock_guard<std::mutex> guard(timeLock_);
  const std::int64_t now = Now();
  const std::int64_t paused = pausedTotal_ + (paused_ ? now - pauseStart_ : 0);
  return std::max<std::int64_t>(0, now - startTime_ - paused);
}

ScanProgress ScanSession::Progress() const {
  std::lock_guard<std::mutex> guard(progressLock_);
  return published_;
}

ScanGateFacts ScanSession::GateFacts() const { return {State(), partition_.fsKind, mode_}; }

ChunkState ScanSession::ChunkStateOf(std::uint64_t chunk) const {
  return chunk < chunkCount_ && chunkMap_ ? chunkMap_[chunk].load() : ChunkState::kUnread;
}

void ScanSession::ForEachHit(const std::function<void(const ScanHit&)>& fn) const {
  std::lock_guard<std::mutex> guard(hitsLock_);
  for (const HitList& list : chunkHits_)
    for (const ScanHit& hit : list) fn(hit);
}

bool ScanSession::UpdateChunkHits(std::uint64_t chunk, const std::function<void(HitList&)>& fn) {
  std::lock_guard<std::mutex> guard(hitsLock_);
  if (chunk >= chunkHits_.size()) return false;
  fn(chunkHits_[chunk]);
  return true;
}

bool ScanSession::IsNewPartitionStart(std::uint64_t lba) {
  std::lock_guard<std::mutex> guard(knownLock_);
  return knownStarts_.insert(lba).second;
}

void ScanSession::SleepMs(std::uint32_t ms) const {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t CheckpointMinutesSetting() {
  const std::string value = GetSetting("ScanCheckpointMinutes");
  if (value.empty()) return 10;
  const std::int32_t minutes = LeadingDecimal(value);
  return minutes > 0 ? static_cast<std::uint32_t>(minutes) : 0;
}

// ---- the scan-state file ----

bool ScanSession::SaveScan() {
  if (env_.stateFilePath.empty() || !chunkMap_ || chunkCount_ == 0) return true;
  // The saved scan must never land on the disk being scanned: its sectors
  // may hold the very files still to be found.
  const std::string folder = env_.stateFilePath.substr(0, env_.stateFilePath.find_last_of('/') + 1);
  if (FolderOnSourceDevice(folder.empty() ? "." : folder, partition_.diskPath)) {
    LogLine(LogCode::kNotice, "Scan save refused: the program folder is on the scanned disk");
    return false;
  }
  std::lock_guard<std::mutex> once(saveLock_);
  std::vector<std::uint8_t> map(chunkCount_);
  for (std::uint64_t i = 0; i < chunkCount_; ++i) map[i] = static_cast<std::uint8_t>(chunkMap_[i].load());
  std::vector<std::uint8_t> bytes;
  {
    std::lock_guard<std::mutex> guard(hitsLock_);
    std::uint32_t total = 0;
    for (const HitList& list : chunkHits_)
      for (const ScanHit& hit : list) total += hit.kind != kHitDead;
    ScanProgress record{};
    record.stage = kStageSaveScan;
    record.u.counter.total = total;
    auto written = [&](std::uint32_t n) {
      record.u.counter.done = n;
      if (env_.progress) env_.progress->Publish(record);
    };
    bytes = EncodeScanState(SavedDiskName(partition_.diskPath), map, cursor_.load(), range_.first,
                            range_.last,
                            [this](const std::function<void(const ScanHit&)>& fn) {
                              for (const HitList& list : chunkHits_)
                                for (const ScanHit& hit : list) fn(hit);
                            },
                            written);
  }
  return WriteScanStateFile(env_.stateFilePath, bytes);
}

bool ScanSession::SaveOnDemand() {
  const bool pausedHere = state_.load() == Word(ScanState::kRunning);
  if (pausedHere) Pause();
  const bool ok = SaveScan();
  if (pausedHere) Resume();
  if (env_.prompt) env_.prompt->Show({ok ? PromptId::kScanSaved : PromptId::kScanSaveFailed});
  return ok;
}

bool ScanSession::LoadSavedScan() {
  if (env_.stateFilePath.empty() || !env_.prompt) return false;
  std::vector<std::uint8_t> file;
  switch (ReadRegularFile(env_.stateFilePath, file, 0x100000000ull)) {
    case WholeFileRead::kRead: break;
    case WholeFileRead::kNotRegular:
      // A FIFO, a device or a folder of that name: never opened for
      // reading, and the scan starts afresh.
      LogLine(LogCode::kNotice, "Scan state file is not a regular file: " + env_.stateFilePath);
      env_.prompt->Show({PromptId::kScanStateNotAFile, env_.stateFilePath});
      return false;
    case WholeFileRead::kMissing:
    case WholeFileRead::kTooLarge:
    case WholeFileRead::kFailed: return false;
  }
  // A changed byte is caught before anything of the file is believed,
  // the name of the disk included.
  const ScanStateFault whole = CheckScanStateFile(file);
  if (whole == ScanStateFault::kNotAStateFile) return false;
  if (whole != ScanStateFault::kNone) {
    LogLine(LogCode::kNotice, "Scan state file damaged (checksum): a fresh scan follows");
    env_.prompt->Show({PromptId::kScanStateDamaged});
    return false;
  }
  if (!NamesDisk(file, SavedDiskName(partition_.diskPath))) return false;
  if (!env_.prompt->Ask({PromptId::kReuseSavedScan})) return false;
  ScanProgress record{};
  record.stage = kStageLoadScan;
  auto read = [&](std::uint32_t n, std::uint32_t total) {
    record.u.counter.done = n;
    record.u.counter.total = total;
    if (env_.progress) env_.progress->Publish(record);
    return state_.load() != Word(ScanState::kStopped);  // a stop abandons the load
  };
  ScanStateFault fault = ScanStateFault::kNone;
  auto saved = DecodeScanState(file, chunkCount_, read, &fault);
  if (!saved && state_.load() == Word(ScanState::kStopped)) return false;
  if (!saved) {
    const bool damaged = fault == ScanStateFault::kChecksum || fault == ScanStateFault::kMalformed;
    LogLine(LogCode::kNotice, damaged ? "Scan state file damaged: a fresh scan follows" : "Scan state file not loaded");
    env_.prompt->Show({damaged ? PromptId::kScanStateDamaged : PromptId::kScanLoadFailed});
    return false;
  }
  if (saved->format == ScanStateFormat::kUnchecked) {
    LogLine(LogCode::kNotice, "Scan state file of the version without checksums: reused unverified");
    env_.prompt->Show({PromptId::kScanStateUnchecked});
  }
  for (std::uint64_t i = 0; i < chunkCount_; ++i)
    chunkMap_[i].store(saved->chunkMap[i] == 2 ? ChunkState::kAnalysed : ChunkState::kUnread);
  for (ScanHit& hit : saved->hits) chunkHits_[hit.Chunk()].push_back(std::move(hit));
  return true;
}

void ScanSession::MaybeCheckpoint() {
  if (env_.checkpointMinutes == 0) return;
  const std::int64_t now = ElapsedSeconds();
  if (now - lastCheckpoint_ < std::int64_t{env_.checkpointMinutes} * 60) return;
  lastCheckpoint_ = now;
  if (!SaveScan()) LogLine(LogCode::kNotice, "Scan checkpoint failed");
}

void ScanSession::OfferSave() {
  const std::int64_t elapsed = ElapsedSeconds();
  if (closing_.load() || (elapsed < 120 && !env_.offerSaveOfShortScans) || !env_.prompt ||
      env_.stateFilePath.empty())
    return;
  if (elapsed > 299) LogLine(LogCode::kScanMinutes, Format("Scan minute: %u", static_cast<unsigned>(elapsed / 60)));
  if (!env_.prompt->Ask({PromptId::kSaveScanAtEnd})) return;
  if (!SaveScan()) env_.prompt->Show({PromptId::kScanSaveFailed});
}

// ---- preparation ----

bool ScanSession::Prepare() {
  completed_ = false;
  chunkCount_ = ChunkCountOf(partition_.diskSectorCount);
  if (chunkCount_ == 0) {
    // Refused rather than ending the process: the front end stays usable.
    if (env_.prompt) env_.prompt->Show({PromptId::kDeviceSizeWrong});
    LogLine(LogCode::kNotice, "Dev size failed!");
    return false;
  }
  chunkHits_.clear();
  chunkHits_.resize(chunkCount_);
  chunkMap_ = std::make_unique<std::atomic<ChunkState>[]>(chunkCount_);
  for (std::uint64_t i = 0; i < chunkCount_; ++i) chunkMap_[i].store(ChunkState::kUnread);
  if (!LoadSavedScan()) {
    for (std::uint64_t i = 0; i < chunkCount_; ++i) chunkMap_[i].store(ChunkState::kUnread);
    for (HitList& list : chunkHits_) list.clear();
  }
  // Only the map and the hits carry over: the range is this partition's.
  range_ = RangeOf(partition_.startLba, partition_.sectorCount);
  cursor_.store(range_.first);
  BuildPriorityList();
  ring_ = std::make_unique<ChunkRing>();
  producerDone_ = false;
  return true;
}

void ScanSession::BuildPriorityList() {
  std::lock_guard<std::mutex> guard(priorityLock_);
  priority_.clear();
  if (IsFreeSpaceMode(mode_)) {
    for (std::uint64_t lba : freeSpace_.FreeChunks(partition_.startLba, partition_.sectorCount))
      priority_.push_back(lba);
    priorityTotal_ = priority_.size();
    return;
  }
  for (std::uint64_t lba : PriorityRangeChunks(settings_.priorityStart, settings_.priorityLength))
    priority_.push_back(lba);
  if (largeWholeDisk_)
    for (std::uint64_t lba : GibProbeChunks(partition_.startLba, partition_.sectorCount))
      priority_.push_back(lba);
  priorityTotal_ = priority_.size();
}

void ScanSession::DiskScanAndViewThread() {
  ThreadBegin("DiskScanAndViewThread");
  ProgressBinding binding(env_.progress);
  if (!Prepare()) {
    state_.store(Word(ScanState::kStopped));
    producerDone_ = true;
    ThreadEnd("DiskScanAndViewThread");
    return;
  }
  if (settings_.On(kOptLiveResults) && env_.extensions) {
    env_.extensions->AddRealPartitions(*this);
    LogLine(LogCode::kScanLiveResults, "Add real part info");
  }
  if (env_.analyser) hand_ = std::thread([this] { VideoFragmentScanHandThread(); });
  else hand_ = std::thread([this] { DiskFileScanHandThread(); });
  RunProducer();
  ThreadEnd("DiskScanAndViewThread");
}

// ---- the producer ----

bool ScanSession::NextChunk(std::uint64_t& lba) {
  {
    std::lock_guard<std::mutex> guard(priorityLock_);
    while (!priority_.empty()) {
      const std::uint64_t candidate = priority_.front();
      priority_.pop_front();
      const std::uint64_t chunk = candidate >> kChunkShift;
      if (!range_.Contains(candidate) || chunk >= chunkCount_) continue;
      ChunkState expected = ChunkState::kUnread;
      if (!chunkMap_[chunk].compare_exchange_strong(expected, ChunkState::kHandedOut)) continue;
      lba = candidate;
      return true;
    }
  }
  if (IsFreeSpaceMode(mode_)) return false;
  while (cursor_.load() <= range_.last) {
    const std::uint64_t candidate = cursor_.fetch_add(kChunkSectors);
    const std::uint64_t chunk = candidate >> kChunkShift;
    ChunkState expected = ChunkState::kUnread;
    if (chunk < chunkCount_ && chunkMap_[chunk].compare_exchange_strong(expected, ChunkState::kHandedOut)) {
      lba = candidate;
      return true;
    }
  }
  return false;
}

void ScanSession::PushHint(std::uint64_t lba) {
  if (!largeWholeDisk_) return;
  const std::uint64_t chunk = ChunkFloor(lba);
  if (!range_.Contains(chunk)) return;
  std::lock_guard<std::mutex> guard(priorityLock_);
  priority_.push_front(chunk);
}

// One read per chunk; when it fails the chunk is read again in 64 KiB
// pieces so that only the unreadable pieces stay zero.
bool ScanSession::ReadChunk(DiskHandle& handle, std::uint64_t lba, std::uint8_t* slot) {
  if (ReadSectors(handle, lba, kChunkSectors, slot)) return true;
  constexpr std::uint32_t kPiece = 128;
  for (std::uint32_t at = 0; at < kChunkSectors; at += kPiece)
    ReadSectors(handle, lba + at, kPiece, slot + std::size_t{at} * 512);
  return false;
}

void ScanSession::RunProducer() {
  DiskHandle handle;
  if (!env_.open(partition_, handle)) {
    // Leave the state at stopped and let the hand thread finish.
    state_.store(Word(ScanState::kStopped));
    producerDone_ = true;
    return;
  }
  reads_ = 0;
  failedReads_ = 0;
  std::uint64_t lba = 0;
  while (NextChunk(lba)) {
    if (state_.load() == Word(ScanState::kStopped)) break;
    while (state_.load() == Word(ScanState::kPaused)) SleepMs(env_.pauseMs);
    if (state_.load() == Word(ScanState::kStopped)) break;
    // The chunk is read straight into its ring slot.
    std::uint8_t* slot = nullptr;
    while (!(slot = ring_->AcquireWrite()) && state_.load() != Word(ScanState::kStopped)) ring_->WaitWritable(env_.pollMs);
    if (!slot) break;
    std::fill(slot + kRingSlotLbaOffset, slot + kRingSlotBytes, 0);
    ++reads_;
    if (!ReadChunk(handle, lba, slot)) ++failedReads_;
    StoreSlotLba(slot, lba);
    ring_->CommitWrite();
  }
  ReportReadErrors();
  handle.Close();
  // A pause at the very end is waited out, so that the scan still finishes.
  while (state_.load() == Word(ScanState::kPaused)) SleepMs(env_.pauseMs);
  std::uint32_t expected = Word(ScanState::kRunning);
  state_.compare_exchange_strong(expected, Word(ScanState::kFinished));
  // Wake the analysing thread before the flag: once the flag is set it may
  // free the ring.
  ring_->WakeAll();
  producerDone_ = true;
}

void ScanSession::ReportReadErrors() {
  const auto failed = static_cast<std::uint32_t>(failedReads_.load());
  const auto reads = static_cast<std::uint32_t>(reads_.load());
  // A few failed reads are noise; more than ten of the chunks read are
  // worth the user's attention.
  if (failed > 10 && failed <= reads) {
    if (env_.prompt)
      env_.prompt->Show({PromptId::kScanReadErrors, {}, failed, std::uint64_t{failed} * (std::uint64_t{kChunkSectors} * kSectorSize >> 20),
                         partition_.removable != 0});
    LogLine(LogCode::kScanReadErrors, Format("Disk scan error: %u / %u", failed, reads));
  }
}

// ---- the hand thread ----

void ScanSession::InitHandProgress() {
  handProgress_ = ScanProgress{};
  handProgress_.stage = kStageDeepScan;
  auto& scan = handProgress_.u.scan;
  std::uint64_t done = 0;
  if (IsFreeSpaceMode(mode_)) {
    scan.totalSectors = priorityTotal_ * kChunkSectors;
    std::lock_guard<std::mutex> guard(priorityLock_);
    for (std::uint64_t lba : priority_) {
      const std::uint64_t chunk = lba >> kChunkShift;
      if (!range_.Contains(lba) || chunk >= chunkCount_ || chunkMap_[chunk].load() == ChunkState::kAnalysed)
        done += kChunkSectors;
    }
  } else {
    scan.totalSectors = partition_.sectorCount;
    for (std::uint64_t lba = range_.first; lba <= range_.last; lba += kChunkSectors) {
      const std::uint64_t chunk = lba >> kChunkShift;
      if (chunk >= chunkCount_ || chunkMap_[chunk].load() == ChunkState::kAnalysed) done += ProgressSectorsOf(lba);
    }
  }
  scan.doneSectors = done;
  ForEachHit([this](const ScanHit& hit) {
    if (hit.lba < range_.first || hit.lba > range_.last + kChunkSectors) return;
    if (IsSignatureKind(hit.kind)) ++handProgress_.u.scan.filesFound;
    else CountHit(hit.kind);
  });
  PublishCopy();
}

std::uint64_t ScanSession::ProgressSectorsOf(std::uint64_t chunkLba) const {
  // Modes 2 and 5 count whole chunks of their list; the others count the
  // sectors of the area, which need not start or end on a chunk boundary.
  if (IsFreeSpaceMode(mode_)) return kChunkSectors;
  const std::uint64_t areaEnd = partition_.startLba + partition_.sectorCount;
  const std::uint64_t from = std::max(chunkLba, partition_.startLba);
  const std::uint64_t to = std::min(chunkLba + kChunkSectors, areaEnd);
  return to > from ? to - from : 0;
}

void ScanSession::CountHit(std::uint8_t kind) {
  const int counter = ProgressCounterOf(kind);
  if (counter >= 0) ++handProgress_.u.scan.kinds[counter];
}

void ScanSession::PublishStage(const ScanProgress& record) {
  {
    std::lock_guard<std::mutex> guard(progressLock_);
    stagePublished_ = record;
  }
  if (env_.progress) env_.progress->Publish(record);
}

ScanProgress ScanSession::StageProgress() const {
  std::lock_guard<std::mutex> guard(progressLock_);
  return stagePublished_;
}

void ScanSession::PublishCopy() {
  {
    std::lock_guard<std::mutex> guard(progressLock_);
    published_ = handProgress_;
  }
  if (env_.progress) env_.progress->Publish(handProgress_);
}

// The hand threads' loop: each chunk the ring holds goes to `analyse`
// until the scan stops, or finishes with the ring empty; then the end of
// the scan.
void ScanSession::ConsumeChunks(void (ScanSession::*analyse)(const std::uint8_t*, DiskHandle&)) {
  DiskHandle handle;
  env_.open(partition_, handle);
  while (state_.load() != Word(ScanState::kStopped)) {
    if (const std::uint8_t* slot = ring_->AcquireRead()) {
      (this->*analyse)(slot, handle);
      ring_->ReleaseRead();
    } else if (state_.load() == Word(ScanState::kFinished) && producerDone_.load() && ring_->Count() == 0)
      break;
    else
      ring_->WaitReadable(env_.pollMs);
  }
  handle.Close();
  EndOfScan();
}

void ScanSession::DiskFileScanHandThread() {
  ThreadBegin("DiskFileScanHandThread");
  ProgressBinding binding(env_.progress);
  InitHandProgress();
  ConsumeChunks(&ScanSession::ProcessChunk);
  ThreadEnd("DiskFileScanHandThread");
}

void ScanSession::ProcessChunk(const std::uint8_t* slot, DiskHandle& handle) {
  const std::uint64_t first = SlotLba(slot);
  ChunkData chunk{ByteSpan(slot, kChunkBytes), first};
  ChunkHitBuilder builder;
  HitSource source(*this, handle);
  ScanExtensions* ext = env_.extensions;
  for (std::uint32_t i = 0; i < kChunkSectors; ++i) {
    const std::uint64_t lba = first + i;
    if (ext && ext->DetectSignature(chunk, i, lba, builder, source)) {
      ++handProgress_.u.scan.filesFound;
      continue;
    }
    std::uint8_t kind = 0;
    if (!ClassifySector(chunk.bytes.subspan(std::size_t{i} * 512, 512), lba, kind)) continue;
    if (kind == kHitFileRecord && ext && ext->InKnownMftExtent(lba)) continue;
    if (MakeSectorHit(chunk, i, lba, kind, source, builder) != HitOutcome::kNone) CountHit(kind);
  }
  if (ext) ext->AfterChunk(*this, chunk, builder.hits, source);
  if (largeWholeDisk_ && !builder.hits.empty()) PushChunkHints(builder.hits);
  StoreChunkHits(first, builder.hits);
}

void ScanSession::StoreChunkHits(std::uint64_t first, HitList& hits) {
  const std::uint64_t number = first >> kChunkShift;
  {
    std::lock_guard<std::mutex> guard(hitsLock_);
    if (number < chunkHits_.size()) {
      for (ScanHit& hit : hits) chunkHits_[number].push_back(std::move(hit));
    }
  }
  if (number < chunkCount_) chunkMap_[number].store(ChunkState::kAnalysed);
  handProgress_.u.scan.doneSectors += ProgressSectorsOf(first);
  PublishCopy();
  MaybeCheckpoint();
}

// ---- the video hand thread ----

void ScanSession::VideoFragmentScanHandThread() {
  ChunkAnalyser& analyser = *env_.analyser;
  ThreadBegin(analyser.ThreadName());
  ProgressBinding binding(env_.progress);
  InitHandProgress();
  handProgress_.stage = analyser.ProgressStage();
  PublishCopy();
  ConsumeChunks(&ScanSession::AnalyseChunk);
  ThreadEnd(analyser.ThreadName());
}

void ScanSession::AnalyseChunk(const std::uint8_t* slot, DiskHandle& handle) {
  const std::uint64_t first = SlotLba(slot);
  ChunkData chunk{ByteSpan(slot, kChunkBytes), first};
  // The last chunk of the area holds only the sectors up to its end.
  const std::uint64_t areaEnd = partition_.startLba + partition_.sectorCount;
  if (first < areaEnd && areaEnd - first < kChunkSectors)
    chunk.bytes = chunk.bytes.first(static_cast<std::size_t>(areaEnd - first) * 512);
  HitList hits;
  HitSource source(*this, handle);
  env_.analyser->AnalyseChunk(*this, chunk, hits, source);
  handProgress_.u.scan.filesFound = env_.analyser->FoundCount();
  StoreChunkHits(first, hits);
}

void ScanSession::PushChunkHints(const HitList& hits) {
  for (const ScanHit& hit : hits)
    for (std::uint64_t lba : BootSectorHints(hit)) PushHint(lba);
  for (std::uint64_t lba : MftRunHints(hits)) PushHint(lba);
}

void ScanSession::EndOfScan() {
  if (state_.load() == Word(ScanState::kFinished)) completed_ = true;
  while (!producerDone_.load()) SleepMs(env_.pollMs);
  // A chunk handed out but never analysed was not read (the producer has
  // left, so no chunk is handed out any more).
  for (std::uint64_t i = 0; i < chunkCount_; ++i) {
    ChunkState expected = ChunkState::kHandedOut;
    chunkMap_[i].compare_exchange_strong(expected, ChunkState::kUnread);
  }
  OfferSave();
  ring_.reset();
  std::uint32_t expected = Word(ScanState::kFinished);
  if (!state_.compare_exchange_strong(expected, Word(ScanState::kRunning))) return;
  if (env_.listener) env_.listener->OnNotice(kNoticeOrganiseBegin, 0, 0);
  SleepMs(env_.organiseDelayMs);
  if (env_.analyser) env_.analyser->Organise(*this);
  else if (env_.extensions) env_.extensions->OrganiseResults(*this);
  if (env_.listener) env_.listener->OnNotice(kNoticeOrganiseEnd, 0, 0);
  expected = Word(ScanState::kRunning);
  state_.compare_exchange_strong(expected, Word(ScanState::kFinished));
}

}  // namespace ambrel
