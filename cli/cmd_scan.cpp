// ambrel-cli scan PATH [--mode N] [--json] [--set KEY=VALUE]: a deep scan of
// a disk, partition or image file, read-only. A progress line goes to
// stderr; at the end the hit counts per kind, the boot sectors and
// partition tables found and the files carved by signature are printed.
// Ctrl+C stops the scan cleanly.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "app/user_prompt.h"
#include "commands.h"
#include "deep_scan_run.h"
#include "deepscan/deep_scan_extensions.h"
#include "deepscan/scan_state_file.h"
#include "device_output.h"
#include "json_output.h"
#include "platform/files.h"
#include "scan_output.h"

namespace ambrel::cli {
namespace {

struct ScanArgs {
  std::string path;
  int mode = kModeDiskFiles;
  bool json = false;
};

ScanArgs g_args;

void Define(CLI::App& app) {
  app.add_option("PATH", g_args.path, "disk, partition or image file")->required();
  app.add_option("--mode", g_args.mode, "recovery mode 1 to 6 (default 6: the whole device)")
      ->check(CLI::Range(1, 6));
  app.add_flag("--json", g_args.json, "print the results as one JSON document on stdout");
}

const PartitionInfo* FoundFilesOf(const std::vector<std::unique_ptr<PartitionInfo>>& results) {
  for (const auto& part : results)
    if (part && part->fsKind == kFsSignature) return part.get();
  return nullptr;
}

void PrintText(const ScanSession& scan, const ScanTarget& target,
               const std::vector<std::unique_ptr<PartitionInfo>>& results) {
  PrintStructures(stdout, scan);
  std::printf("volumes: %zu\n", target.description.volumes.size());
  for (const DeviceInfo& v : target.description.volumes) PrintVolumeLine(stdout, v);
  PrintCarvedFiles(stdout, CarvedFileRows(FoundFilesOf(results)));
}

void PrintJsonDocument(const ScanSession& scan, const ScanTarget& target,
                       const std::vector<std::unique_ptr<PartitionInfo>>& results) {
  Json j;
  j["source"] = JsonText(g_args.path);
  j["mode"] = scan.Mode();
  j["completed"] = scan.Completed();
  AddStructuresJson(j, scan);
  j["volumes"] = target.description.volumes.size();
  j["carvedFiles"] = CarvedFilesJson(CarvedFileRows(FoundFilesOf(results)));
  PrintJson(j);
}

int RunScan() {
  const ScanArgs& args = g_args;
  ScanTarget target;
  if (!PrepareScanTarget(args.path, "scan", target)) return 1;
  DeepScanExtensions extensions;
  ScanEnvironment env;
  env.publishProgress = false;
  env.prompt = &CurrentUserPrompt();
  env.extensions = &extensions;
  env.stateFilePath = ProgramFolder() + kScanStateFileName;
  env.checkpointMinutes = CheckpointMinutesSetting();
  ScanSession scan(std::move(target.disk), args.mode, DefaultScanSettings(PartitionInfo{}, args.mode), env);
  const bool completed = RunScanWithProgress(scan);
  const auto results = extensions.TakeResults();
  if (args.json) PrintJsonDocument(scan, target, results);
  else PrintText(scan, target, results);
  return completed ? 0 : 130;
}

const CliCommandRegistrar kRegistrar({"scan", "scan PATH [--mode N] [--json]",
                                      "deep scan: the structures found sector by sector and the files carved by signature",
                                      Define, RunScan});

}  // namespace
}  // namespace ambrel::cli
