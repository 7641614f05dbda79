#include "deep_scan_run.h"

#include <QCoreApplication>
#include <atomic>
#include <thread>

#include "deep_scan_settings.h"

namespace ambrel::ui {

DeepScanSettings SettingsFromOptions(const PartitionInfo& partition, RecoveryMode mode) {
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
  video::VideoSettings video = ProgramVideoSettings();
  const DeepScanOptions options = CurrentDeepScanOptions();
  if (options.videoChosen) {
    video.movOn = options.movFragRecovery;
    video.mtsOn = options.mtsFragRecovery;
  }
  return video;
}

DeepScanRun::DeepScanRun(PartitionInfo partition, RecoveryMode mode, DeepScanSettings settings,
                         NoticeListener* window, WordedPrompt* prompt, FoundFileCatalog* catalog,
                         DeviceLists devices) {
  ScanJobOptions options;
  options.listener = window;
  options.prompt = prompt;
  options.liveCatalog = catalog;
  options.devices = std::move(devices);
  options.video = VideoSettingsFromOptions();
  job_ = std::make_unique<ScanJob>(std::move(partition), mode, settings, std::move(options));
}

DeepScanRun::~DeepScanRun() { Finish(true); }

void DeepScanRun::Finish(bool closing) {
  if (closing) job_->SetClosing();
  if (Running()) job_->Stop();
  std::atomic<bool> joined{false};
  std::thread waiter([&] {
    job_->Join();
    joined = true;
  });
  while (!joined.load()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::this_thread::yield();
  }
  waiter.join();
}

}  // namespace ambrel::ui
