// The deep scan of a camera card with each video reassembly setting on and
// off, against `cat IMAGE > /dev/null`, in one run: MB/s of the scan (up
// to the organisation), of the whole run (with the rebuild), and the peak
// memory of each (every configuration runs in its own child process).
//
//   bench_video_scan IMAGE
//
// IMAGE is a card made by scripts/video_cards.py, e.g. 4 GiB:
//   scripts/video_cards.py card --pool POOL --seed 101 --size-gib 4 --image card.img
// The image is read once first so that it sits in the page cache.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "deepscan/deep_scan_extensions.h"
#include "deepscan/scan_session.h"
#include "video/video_reassembly.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Config {
  const char* name;
  bool video;
  ambrel::video::VideoSettings settings;
};

struct Timing {
  double scanSeconds = 0, totalSeconds = 0;
  unsigned recordings = 0;
};

class OrganiseClock final : public ambrel::NoticeListener {
 public:
  void OnNotice(std::uint32_t message, std::uint64_t, std::uint64_t) override {
    if (message == ambrel::kNoticeOrganiseBegin) begin = Clock::now();
  }
  Clock::time_point begin{};
};

Timing Scan(const std::string& image, const Config& config) {
  ambrel::DiskHandle probe;
  if (!ambrel::OpenByPath(image, probe)) std::exit(2);
  ambrel::PartitionInfo disk;
  disk.sectorCount = disk.diskSectorCount = probe.lastLba + 1;
  disk.diskPath = image;
  probe.Close();
  ambrel::DeepScanExtensions extensions;
  auto video = config.video ? ambrel::video::VideoReassembly::Create(config.settings) : nullptr;
  OrganiseClock organise;
  ambrel::ScanEnvironment env;
  env.organiseDelayMs = 0;
  env.pollMs = 1;
  env.listener = &organise;
  env.extensions = &extensions;
  env.analyser = video.get();
  env.open = [image](const ambrel::PartitionInfo&, ambrel::DiskHandle& h) { return ambrel::OpenByPath(image, h); };
  const ambrel::DeepScanSettings settings = ambrel::DefaultScanSettings(disk, ambrel::RecoveryMode::kDiskFiles);
  const auto start = Clock::now();
  ambrel::ScanSession scan(std::move(disk), ambrel::RecoveryMode::kDiskFiles, settings, env);
  scan.Start();
  scan.Join();
  const auto end = Clock::now();
  Timing t;
  t.totalSeconds = std::chrono::duration<double>(end - start).count();
  t.scanSeconds = std::chrono::duration<double>((organise.begin == Clock::time_point{} ? end : organise.begin) - start).count();
  if (video) t.recordings = static_cast<unsigned>(video->Recordings().size());
  return t;
}

double CatSeconds(const std::string& image) {
  const auto start = Clock::now();
  if (std::system(("cat '" + image + "' > /dev/null").c_str()) != 0) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs one configuration in a child; its timing comes back through a pipe,
// its peak resident memory through wait4.
bool RunChild(const std::string& image, const Config& config, Timing& t, long& peakKib) {
  int pipes[2];
  if (pipe(pipes) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipes[0]);
    const Timing r = Scan(image, config);
    if (write(pipes[1], &r, sizeof(r)) != static_cast<ssize_t>(sizeof(r))) _exit(3);
    _exit(0);
  }
  close(pipes[1]);
  const bool got = read(pipes[0], &t, sizeof(t)) == static_cast<ssize_t>(sizeof(t));
  close(pipes[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  peakKib = usage.ru_maxrss;
  return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_video_scan IMAGE\n");
    return 2;
  }
  const std::string image = argv[1];
  const double mib = static_cast<double>(std::filesystem::file_size(image)) / (1 << 20);
  CatSeconds(image);  // into the page cache
  const double cat = CatSeconds(image);
  std::printf("image %s, %.0f MiB\n", image.c_str(), mib);
  std::printf("%-34s %10s %10s %10s %12s %s\n", "configuration", "scan MB/s", "total MB/s", "x normal", "peak MiB",
              "recordings");
  std::printf("%-34s %10.0f\n", "cat", mib / cat);
  auto with = [&](bool mov, bool mts, bool size, bool s01, bool s02, bool s20) {
    ambrel::video::VideoSettings s;
    s.movOn = mov;
    s.mtsOn = mts;
    s.sampleSize = size;
    s.sample01 = s01;
    s.sample02 = s02;
    s.sample20 = s20;
    return s;
  };
  const std::vector<Config> configs = {
      {"normal scan (video off)", false, {}},
      {"MovFragRecovery, all four lists", true, with(true, false, true, true, true, true)},
      {"MovFragRecovery, VideoSampleSize off", true, with(true, false, false, true, true, true)},
      {"MovFragRecovery, VideoSample01 off", true, with(true, false, true, false, true, true)},
      {"MovFragRecovery, VideoSample02 off", true, with(true, false, true, true, false, true)},
      {"MovFragRecovery, VideoSample20 off", true, with(true, false, true, true, true, false)},
      {"MovFragRecovery, no list", true, with(true, false, false, false, false, false)},
      {"MtsFragRecovery", true, with(false, true, false, false, false, false)},
  };
  double normal = 0;
  for (const Config& c : configs) {
    Timing t;
    long peak = 0;
    if (!RunChild(image, c, t, peak)) {
      std::printf("%-34s failed\n", c.name);
      continue;
    }
    const double rate = mib / t.scanSeconds;
    if (!c.video) normal = rate;
    std::printf("%-34s %10.0f %10.0f %10.2f %12.0f %u\n", c.name, rate, mib / t.totalSeconds,
                normal > 0 ? rate / normal : 0.0, static_cast<double>(peak) / 1024.0, t.recordings);
    std::fflush(stdout);
  }
  return 0;
}
