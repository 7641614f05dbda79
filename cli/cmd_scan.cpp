// ambrel-cli scan PATH [--mode N] [--set KEY=VALUE]: a deep scan of a disk,
// partition or image file, read-only. A progress line goes to stderr; at
// the end the hit counts per kind, the boot sectors and partition tables
// found and the volumes rebuilt from them are printed (--partition N: the
// tree of one, --json: as JSON). Ctrl+C stops the scan cleanly.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "app/settings.h"
#include "app/user_prompt.h"
#include "deepscan/scan_state_file.h"
#include "platform/files.h"
#include "commands.h"
#include "deepscan/deep_scan_extensions.h"
#include "deepscan/scan_session.h"
#include "device/device_enum.h"
#include "device_output.h"
#include "fs/boot_probe.h"
#include "platform/interrupt.h"
#include "json_output.h"
#include "scan_volumes_output.h"

namespace ambrel::cli {
namespace {

struct ScanArgs {
  std::string path;
  int mode = kModeDiskFiles;
  int partition = 0;  // a rebuilt volume whose tree is printed
  bool json = false;
};

ScanArgs g_args;

void Define(CLI::App& app) {
  app.add_option("PATH", g_args.path, "disk, partition or image file")->required();
  app.add_option("--mode", g_args.mode, "recovery mode 1 to 6 (default 6: the whole device)")
      ->check(CLI::Range(1, 6));
  app.add_option("--partition", g_args.partition, "print the tree of rebuilt volume N")
      ->check(CLI::Range(1, 4096));
  app.add_flag("--json", g_args.json, "print the rebuilt volumes (and the tree) as JSON");
}

void PrintProgressLine(const ScanProgress& p) {
  if (p.stage != kStageDeepScan || p.u.scan.totalSectors == 0) return;
  const auto& s = p.u.scan;
  std::fprintf(stderr, "\rscanned %" PRIu64 " / %" PRIu64 " sectors (%u%%)  boot %u  FILE %u  ",
               s.doneSectors, s.totalSectors,
               static_cast<unsigned>(std::min<std::uint64_t>(100, s.doneSectors * 100 / s.totalSectors)),
               s.kinds[1] + s.kinds[2] + s.kinds[3], s.kinds[4]);
}

void PrintResults(const ScanSession& scan, const DiskDescription& description) {
  std::map<std::uint8_t, std::uint64_t> counts;
  std::printf("structures found:\n");
  scan.ForEachHit([&](const ScanHit& hit) {
    ++counts[hit.kind];
    if (CarriesSectorCopy(hit.kind))
      std::printf("  %s at %" PRIu64 "\n", HitKindName(hit.kind).c_str(), hit.lba);
  });
  std::printf("hits per kind:\n");
  for (const auto& [kind, n] : counts)
    std::printf("  %u %s: %" PRIu64 "\n", kind, HitKindName(kind).c_str(), n);
  const ScanProgress p = scan.Progress();
  std::printf("sectors scanned: %" PRIu64 " of %" PRIu64 "\n", p.u.scan.doneSectors,
              p.u.scan.totalSectors);
  std::printf("volumes: %zu\n", description.volumes.size());
  for (const DeviceInfo& v : description.volumes) PrintVolumeLine(stdout, v);
}

int RunScan() {
  const ScanArgs& args = g_args;
  DiskDescription description;
  std::string why;
  if (!DescribeDisk(args.path, description, JudgeSector, &why)) {
    std::fprintf(stderr, "ambrel-cli scan: %s: %s\n", args.path.c_str(), why.c_str());
    return 1;
  }
  PartitionInfo disk;
  // A volume that fills the image gives the file system whose free space
  // modes 2 and 5 read.
  if (description.volumes.size() == 1 && description.volumes[0].startLba == 0)
    MakePartitionInfo(description.volumes[0], disk);
  disk.startLba = 0;
  disk.sectorCount = disk.diskSectorCount = description.disk.sectorCount;
  disk.removable = description.disk.removable;
  disk.diskPath = disk.displayName = args.path;
  disk.diskName = args.path;  // the scan-state identity is the full path
  // The rebuilt volumes are parsed unless a settings file says otherwise.
  if (!SettingsLoaded()) SetSettingsLoaded(true);
  if (GetSetting("ParseFileSys").empty()) OverrideSetting("ParseFileSys", "1");
  DeepScanExtensions extensions;
  ScanEnvironment env;
  env.extensions = &extensions;
  env.publishProgress = false;
  env.prompt = &CurrentUserPrompt();
  env.stateFilePath = ProgramFolder() + kScanStateFileName;
  env.checkpointMinutes = CheckpointMinutesSetting();
  ScanSession scan(std::move(disk), args.mode, DefaultScanSettings(PartitionInfo{}, args.mode), env);
  CatchInterrupts();
  if (!scan.Start()) return 1;
  while (scan.State() == kScanRunning || scan.State() == kScanPaused) {
    if (InterruptRequested()) scan.Stop();
    PrintProgressLine(scan.Progress());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  scan.Join();
  PrintProgressLine(scan.Progress());
  std::fprintf(stderr, "\n%s\n", scan.Completed() ? "scan finished" : "scan stopped");
  const auto results = extensions.TakeResults();
  if (args.json) {
    Json document;
    document["volumes"] = RebuiltVolumesJson(results);
    const bool shown = args.partition == 0 || PrintRebuiltTree(results, args.partition, true, &document);
    PrintJson(document);
    if (!shown) return 1;
  } else {
    PrintResults(scan, description);
    PrintRebuiltVolumes(results);
    if (args.partition != 0 && !PrintRebuiltTree(results, args.partition, false, nullptr)) return 1;
  }
  return scan.Completed() ? 0 : 130;
}

const CliCommandRegistrar kRegistrar({"scan", "scan PATH [--mode N] [--partition N] [--json]",
                                      "deep scan: the structures found and the volumes rebuilt from them", Define,
                                      RunScan});

}  // namespace
}  // namespace ambrel::cli
