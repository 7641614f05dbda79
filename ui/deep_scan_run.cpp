#include "deep_scan_run.h"

#include <QCoreApplication>
#include <atomic>
#include <thread>

#include "deep_scan_settings.h"
#include "deepscan/scan_state_file.h"
#include "platform/files.h"

namespace ambrel::ui {

DeepScanSettings SettingsFromOptions(const PartitionInfo& partition, int mode) {
  DeepScanSettings settings = DefaultScanSettings(partition, mode);
  const DeepScanOptions options = CurrentDeepScanOptions();
  const bool sameArea = options.partStart == partition.startLba && options.partSectors == partition.sectorCount;
  if (sameArea && options.priorityLength != 0) {
    settings.priorityStart = options.priorityStart;
    settings.priorityLength = options.priorityLength;
  }
  settings.typesLeftOut = options.typesLeftOut;
  for (int number = 32; number <= 42; ++number) {
    // A byte the mode fixed (2) keeps its value; the dialog's others apply.
    if (settings.Option(number) < 2) settings.SetOption(number, options.Byte(number) ? 1 : 0);
  }
  return settings;
}

video::VideoSettings VideoSettingsFromOptions() {
  video::VideoSettings video = video::VideoSettingsFromProgram();
  const DeepScanOptions options = CurrentDeepScanOptions();
  if (options.videoChosen) {
    video.movOn = options.movFragRecovery;
    video.mtsOn = options.mtsFragRecovery;
  }
  return video;
}

DeepScanRun::DeepScanRun(PartitionInfo partition, int mode, DeepScanSettings settings,
                         NoticeListener* window, UserPrompt* prompt, FoundFileCatalog* catalog)
    : extensions_(catalog), video_(video::VideoReassembly::Create(VideoSettingsFromOptions())) {
  ScanEnvironment env;
  env.listener = window;
  env.prompt = prompt;
  env.extensions = &extensions_;
  env.analyser = video_.get();
  env.stateFilePath = ProgramFolder() + kScanStateFileName;
  env.checkpointMinutes = CheckpointMinutesSetting();
  session_ = std::make_unique<ScanSession>(std::move(partition), mode, settings, std::move(env));
}

DeepScanRun::~DeepScanRun() { Finish(true); }

std::vector<std::unique_ptr<PartitionInfo>> DeepScanRun::TakeResults() {
  auto results = extensions_.TakeResults();
  if (video_)
    for (auto& part : video_->TakeResults()) results.push_back(std::move(part));
  return results;
}

bool DeepScanRun::Start() { return session_->Start(); }

bool DeepScanRun::Running() const {
  const std::uint32_t state = session_->State();
  return state == kScanRunning || state == kScanPaused;
}

ScanGateInput DeepScanRun::Gate() const {
  const ScanGateFacts facts = session_->GateFacts();
  return {facts.state, facts.partitionFsKind, facts.recoveryMode};
}

void DeepScanRun::Finish(bool closing) {
  if (closing) session_->SetClosing();
  if (Running()) session_->Stop();
  std::atomic<bool> joined{false};
  std::thread waiter([&] {
    session_->Join();
    joined = true;
  });
  while (!joined.load()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::this_thread::yield();
  }
  waiter.join();
}

}  // namespace ambrel::ui
