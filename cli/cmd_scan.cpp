// ambrel-cli scan PATH [--partition N] [--mode N] [--priority START,LENGTH]
//   [--reuse yes|no] [--save yes|no|ask] [--tree N] [--json]: a deep scan of
// a disk, partition or image file, read-only. A progress line goes to
// stderr; on a terminal p or space pauses and resumes; Ctrl+C or SIGTERM
// stops the scan cleanly (the save offer follows). At the end the hit
// counts per kind, the structures found, the volumes rebuilt from them
// (--tree N: the tree of one of them) and the files carved by signature are
// printed.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "deep_scan_run.h"
#include "device_output.h"
#include "json_output.h"
#include "scan_output.h"
#include "scan_prompt.h"
#include "scan_report.h"
#include "scan_volumes_output.h"
#include "session/program.h"
#include "session/scan_job.h"
#include "session/source_session.h"
#include "video_output.h"

namespace ambrel::cli {
namespace {

struct ScanArgs {
  std::string path;
  int mode = ModeNumber(RecoveryMode::kDiskFiles);
  int partition = 0;
  std::vector<std::uint64_t> priority;
  std::string reuse = "ask";
  std::string save = "ask";
  int tree = 0;  // a rebuilt volume whose tree is printed
  bool json = false;
};

ScanArgs g_args;

// One value of --priority: decimal digits only, so that "-1" is refused
// rather than wrapped to 2^64-1, and no more than 2^63 (an LBA or a sector
// count of any disk stays far below).
std::string CheckPriorityValue(const std::string& text) {
  const bool digits = !text.empty() && text.size() <= 19 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  if (!digits) return "'" + text + "' is not a sector number (0, 1, 2, ...)";
  return {};
}

void Define(CLI::App& app) {
  g_args = ScanArgs{};
  app.add_option("PATH", g_args.path, "disk, partition or image file")->required();
  app.add_option("--mode", g_args.mode, "recovery mode 1 to 6 (default 6: the whole device)")
      ->check(CLI::Range(1, 6));
  app.add_option("--partition", g_args.partition, "scan only volume N of the device (as `list` numbers them)")
      ->check(CLI::PositiveNumber);
  app.add_option("--priority", g_args.priority, "START,LENGTH: sectors scanned first")
      ->delimiter(',')
      ->expected(2)
      ->type_name("START,LENGTH")
      ->check(CLI::Validator([](std::string& text) { return CheckPriorityValue(text); }, ""));
  app.add_option("--reuse", g_args.reuse, "reuse a saved scan of this device: yes, no or ask")
      ->check(CLI::IsMember({"yes", "no", "ask"}));
  app.add_option("--save", g_args.save, "save the scan at its end: yes, no or ask")
      ->check(CLI::IsMember({"yes", "no", "ask"}));
  app.add_option("--tree", g_args.tree, "print the tree of rebuilt volume N")->check(CLI::Range(1, 4096));
  app.add_flag("--json", g_args.json, "print the results as JSON on stdout");
}

bool ApplyPriority(const ScanArgs& args, const PartitionInfo& area, DeepScanSettings& settings) {
  if (args.priority.empty()) return true;
  const std::uint64_t start = args.priority[0], length = args.priority[1];
  const std::uint64_t end = area.startLba + area.sectorCount;
  if (length == 0) {
    std::fprintf(stderr, "ambrel-cli scan: the priority range %" PRIu64 ",%" PRIu64
                         " is empty: its LENGTH must be at least one sector\n",
                 start, length);
    return false;
  }
  if (start < area.startLba || start > end || length > end - start) {
    std::fprintf(stderr, "ambrel-cli scan: the priority range %" PRIu64 ",%" PRIu64
                         " does not lie inside the scanned area %" PRIu64 "..%" PRIu64 "\n",
                 start, length, area.startLba, end);
    return false;
  }
  settings.priorityStart = start;
  settings.priorityLength = length;
  return true;
}

int RunScan() {
  const ScanArgs& args = g_args;
  std::string why;
  std::unique_ptr<SourceSession> source = SourceSession::Open(args.path, &why);
  if (!source) {
    std::fprintf(stderr, "ambrel-cli scan: %s: %s\n", args.path.c_str(), why.c_str());
    return 1;
  }
  std::optional<PartitionInfo> area = source->ScanArea(args.partition);
  if (!area) {
    std::fprintf(stderr, "ambrel-cli scan: %s has no volume %d\n", args.path.c_str(), args.partition);
    return 1;
  }
  DeepScanSettings settings = DefaultScanSettings(*area, ModeFromNumber(args.mode));
  if (!ApplyPriority(args, *area, settings)) return 2;
  Answer reuse = Answer::kAsk, save = Answer::kAsk;
  ParseAnswer(args.reuse, reuse);
  ParseAnswer(args.save, save);
  ScanPrompt prompt(CurrentUserPrompt(), reuse, save);
  // The rebuilt volumes are parsed unless a settings file says otherwise.
  if (!SettingsLoaded()) SetSettingsLoaded(true);
  if (GetSetting("ParseFileSys").empty()) OverrideSetting("ParseFileSys", "1");
  ScanJobOptions options;
  options.organiseDelayMs = 0;  // no window to redraw before the organisation
  options.prompt = &prompt;
  // --save yes saves a short scan too, at the scan's end and before the
  // organisation retires the hits it used (a save after it would lose the
  // records a rebuilt volume came from).
  options.offerSaveOfShortScans = save == Answer::kYes;
  ScanJob scan(std::move(*area), ModeFromNumber(args.mode), settings, std::move(options));
  if (!scan.Start()) return 1;
  FollowScan(scan);
  // A scan that never reached its end (a failed start of the organisation)
  // is saved as it stands.
  if (save == Answer::kYes && !prompt.savedAtEnd() && !scan.SaveScan())
    std::fprintf(stderr, "ambrel-cli scan: the scan could not be saved to %s\n", scan.StateFilePath().c_str());
  const auto results = scan.TakeResults();
  const DiskDescription& description = source->Description();
  bool shown = true;
  if (args.json) {
    Json out = Json::object();
    out["path"] = JsonText(args.path);
    out["mode"] = ModeNumber(scan.Mode());
    out["completed"] = scan.Completed();
    AddScanStructures(scan.Scan(), out);
    Json volumes = Json::array();
    for (const DeviceInfo& v : description.volumes) volumes.push_back(VolumeJson(v));
    out["deviceVolumes"] = std::move(volumes);
    out["volumes"] = RebuiltVolumesJson(results);
    out["carvedFiles"] = CarvedFilesJson(CarvedFileRows(FoundFilesOf(results)));
    if (scan.ReassemblesVideo()) out["recordings"] = RecordingsJson(scan.Recordings());
    if (args.tree != 0) shown = PrintRebuiltTree(results, args.tree, true, &out);
    PrintJson(out);
  } else {
    PrintScanStructures(scan.Scan());
    std::printf("volumes of the device: %zu\n", description.volumes.size());
    for (const DeviceInfo& v : description.volumes) PrintVolumeLine(stdout, v);
    PrintRebuiltVolumes(results);
    PrintCarvedFiles(stdout, CarvedFileRows(FoundFilesOf(results)));
    if (scan.ReassemblesVideo()) PrintRecordings(stdout, scan.Recordings());
    if (args.tree != 0) shown = PrintRebuiltTree(results, args.tree, false, nullptr);
  }
  if (!shown) return 1;
  return scan.Completed() ? 0 : 130;
}

const CliCommandRegistrar kRegistrar(
    {"scan",
     "scan PATH [--partition N] [--mode N] [--priority START,LENGTH] [--reuse yes|no|ask] "
     "[--save yes|no|ask] [--tree N] [--json]",
     "deep scan: the structures found and the volumes rebuilt from them", Define, RunScan});

}  // namespace
}  // namespace ambrel::cli
