#include "session/scan_job.h"

#include <algorithm>

#include "catalog/file_types.h"
#include "deepscan/found_files.h"
#include "deepscan/scan_state_file.h"
#include "platform/files.h"

namespace ambrel {

video::VideoSettings ProgramVideoSettings() { return video::VideoSettingsFromProgram(); }

ScanJob::ScanJob(PartitionInfo area, RecoveryMode mode, DeepScanSettings settings, ScanJobOptions options)
    : extensions_(options.liveCatalog),
      video_(video::VideoReassembly::Create(options.video ? *options.video : ProgramVideoSettings())) {
  ScanEnvironment env;
  env.listener = options.listener;
  env.prompt = options.prompt;
  env.extensions = &extensions_;
  env.analyser = video_.get();
  env.progress = &mailbox_;
  env.organiseDelayMs = options.organiseDelayMs;
  env.devices = std::move(options.devices);
  if (options.useStateFile) {
    stateFilePath_ = ProgramFolder() + kScanStateFileName;
    env.stateFilePath = stateFilePath_;
    env.checkpointMinutes = CheckpointMinutesSetting();
    env.offerSaveOfShortScans = options.offerSaveOfShortScans;
  }
  session_ = std::make_unique<ScanSession>(std::move(area), mode, settings, std::move(env));
}

ScanJob::~ScanJob() {
  session_->SetClosing();
  if (Running()) session_->Stop();
  session_->Join();
}

std::vector<std::unique_ptr<PartitionInfo>> ScanJob::TakeResults() {
  auto results = extensions_.TakeResults();
  if (video_)
    for (auto& part : video_->TakeResults()) results.push_back(std::move(part));
  return results;
}

const std::vector<video::Recording>& ScanJob::Recordings() const {
  static const std::vector<video::Recording> kNone;
  return video_ ? video_->Recordings() : kNone;
}

bool ScanJob::Running() const {
  const ScanState state = session_->State();
  return state == ScanState::kRunning || state == ScanState::kPaused;
}

bool ScanJob::Paused() const { return session_->State() == ScanState::kPaused; }

ScanGateInput ScanJob::Gate() const {
  const ScanGateFacts facts = session_->GateFacts();
  ScanGateInput gate;
  gate.scanRunning = facts.state == ScanState::kRunning || facts.state == ScanState::kPaused;
  gate.partitionFsKind = facts.partitionFsKind;
  gate.recoveryMode = facts.recoveryMode;
  return gate;
}

const PartitionInfo* FoundFilesOf(const std::vector<std::unique_ptr<PartitionInfo>>& results) {
  for (const auto& part : results)
    if (part && part->fsKind == kFsSignature) return part.get();
  return nullptr;
}

std::vector<CarvedFileRow> CarvedFileRows(const PartitionInfo* found) {
  std::vector<CarvedFileRow> rows;
  if (!found) return rows;
  const FoundFileTable& t = found->table;
  for (std::uint32_t id = 0; id < t.count; ++id) {
    const FoundFileNode* n = NodeAt(t, id);
    if (!n || !IsFileKind(KindOf(*n))) continue;
    CarvedFileRow row;
    row.type = n->typeCode;
    if (const FileTypeEntry* type = FindFileType(n->typeCode)) row.extension = type->extension;
    row.name = n->name;
    row.lba = n->dataSector;
    row.size = n->size;
    row.structural = (n->flags & kFlagStructuralSize) != 0;
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end(), [](const CarvedFileRow& a, const CarvedFileRow& b) { return a.lba < b.lba; });
  return rows;
}

}  // namespace ambrel
