// ambrel-cli recover: parses the volumes of a disk, a volume or an image,
// checks the chosen files and copies them out under a target folder, with
// a progress bar on stderr and the completion report at the end.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "catalog/found_file_catalog.h"
#include "catalog/search_filter.h"
#include "commands.h"
#include "common/text.h"
#include "deep_scan_run.h"
#include "json_output.h"
#include "session/copy_service.h"
#include "session/program.h"
#include "session/scan_job.h"
#include "session/source_session.h"
#include "session/texts.h"
#include "session/worded_prompt.h"
#include "text_output.h"
#include "video_output.h"
#include "volume_checks.h"
#include "volume_options.h"

namespace ambrel::cli {
namespace {

struct RecoverOptions {
  std::string path;
  std::string out;
  VolumeOptions volumes;
  std::string filter;
  std::string overwrite = "yes";
  std::string readErrors = "keep";
  bool json = false;
  int mode = 0;  // 1..6: recover what a deep scan of that mode finds
};
RecoverOptions g_options;

const char* const kSynopsis =
    "recover PATH --out DIR [--mode 1..6] [--partition N] [--deleted|--present|--recycle] [--filter \"KEYWORDS\"] "
    "[--overwrite ask|yes|skip] [--read-errors empty|keep|all] [--set KEY=VALUE]... [--json]";

const std::vector<std::string> kOverwriteNames = {"ask", "yes", "skip"};      // OverwritePolicy 0, 1, 2
const std::vector<std::string> kReadErrorNames = {"empty", "keep", "all"};    // ReadErrorPolicy 0, 1, 2

std::uint32_t PolicyIndex(const std::string& text, const std::vector<std::string>& names) {
  return static_cast<std::uint32_t>(std::find(names.begin(), names.end(), text) - names.begin());
}

CLI::Validator OneOf(const std::vector<std::string>& names) {
  return CLI::Validator(
      [names](std::string& text) {
        if (std::find(names.begin(), names.end(), text) != names.end()) return std::string();
        std::string list;
        for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
        return "'" + text + "' is not one of " + list;
      },
      "");
}

std::vector<std::string> SplitKeywords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ';') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

void Define(CLI::App& app) {
  RecoverOptions& o = g_options;
  app.add_option("PATH", o.path, "disk, volume or image file to recover from")->required();
  app.add_option("--out", o.out, "folder to copy into (created when missing)")->type_name("DIR")->required();
  AddVolumeOptions(app, o.volumes);
  app.add_option("--filter", o.filter, "only names holding one of the keywords (blank or ';' separated)")
      ->type_name("KEYWORDS");
  app.add_option("--overwrite", o.overwrite, "what to do with an existing file (default yes)")
      ->type_name("ask|yes|skip")
      ->check(OneOf(kOverwriteNames));
  app.add_option("--read-errors", o.readErrors,
                 "when the source cannot be read: empty the file, keep what was written (default), or write all")
      ->type_name("empty|keep|all")
      ->check(OneOf(kReadErrorNames));
  app.add_flag("--json", o.json, "print a JSON summary on stdout");
  app.add_option("--mode", o.mode,
                 "deep scan of the whole device in recovery mode 1 to 6 first, then copy every file it found "
                 "(file-system files with their paths, carved files under their type folders)")
      ->check(CLI::Range(1, 6));
}

// Applies the search filter for the keywords and switches to its view;
// the message to show when nothing matches, else empty.
std::string FilterByKeywords(FoundFileCatalog& catalog, const std::vector<std::string>& keywords) {
  FilterSettings settings = DefaultFilterSettings(kLastTreeYear, 12, 31);
  for (const std::string& k : keywords) settings.keywords += (settings.keywords.empty() ? "" : ";") + k;
  SearchFilter filter;
  filter.Store(settings);
  return RunFilter(catalog, filter);
}

// One line on stderr: files and MiB done, speed and the current file.
class ProgressBar final : public SaveProgressView {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled), start_(std::chrono::steady_clock::now()) {}
  void Poll(SaveJob& job) override {
    if (InterruptRequested()) job.state = kJobStopRequested;  // Ctrl+C: stop after this chunk
    ScanProgress p;
    if (!job.progress.Take(p) || p.stage != kStageCopy) return;
    last_ = p;
    seen_ = true;
    if (enabled_) Draw();
  }
  // The closing line, from the run's own figures (the mailbox may have
  // dropped the last record).
  void Finish(const SaveRunResult& r) {
    if (!r.started) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double mib = static_cast<double>(r.bytes) / 1048576.0;
    std::fprintf(stderr, "%s%u files, %.1f MiB in %.1f s (%.1f MiB/s)\n", seen_ && enabled_ ? "\r\033[K" : "",
                 r.files, mib, seconds, seconds > 0 ? mib / seconds : 0.0);
  }

 private:
  void Draw() {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const auto& c = last_.u.copy;
    const double mib = static_cast<double>(c.bytesCopied) / 1048576.0;
    std::fprintf(stderr, "\r\033[K[%d/%u files] %.1f / %.1f MiB  %.1f MiB/s  %s", c.filesCopied, c.totalFiles,
                 mib, static_cast<double>(c.totalBytes) / 1048576.0, seconds > 0 ? mib / seconds : 0.0,
                 PrintableText(Utf8Prefix(c.currentName, 40)).c_str());
    std::fflush(stderr);
  }

  bool enabled_;
  bool seen_ = false;
  ScanProgress last_{};
  std::chrono::steady_clock::time_point start_;
};

std::vector<std::string> DamagedTexts(const SaveRunResult& r) {
  std::vector<std::string> texts;
  for (const DamagedFileReport& d : r.damagedFiles) texts.push_back(DamagedFileText(d));
  return texts;
}

void PrintSummaryJson(const RecoverOptions& o, const SaveRunResult& r, const SelectionTotal& chosen,
                      const std::vector<std::string>& messages, int status) {
  auto list = [](const std::vector<std::string>& texts) {
    Json array = Json::array();
    for (const std::string& t : texts) array.push_back(JsonText(t));
    return array;
  };
  Json j;
  j["source"] = JsonText(o.path);
  j["target"] = JsonText(o.out);
  j["outputFolder"] = JsonText(r.outputFolder);
  j["started"] = r.started;
  j["completed"] = r.completed;
  j["chosenFiles"] = chosen.files;
  j["chosenBytes"] = chosen.bytes;
  j["files"] = r.files;
  j["bytes"] = r.bytes;
  j["reads"] = r.reads;
  j["readErrors"] = r.readErrors;
  auto effort = [](const auto& e) {
    Json part;
    part["files"] = e.files;
    part["bytes"] = e.bytes;
    part["seconds"] = e.seconds;
    return part;
  };
  j["reading"] = effort(r.reading);
  j["writing"] = effort(r.writing);
  j["failedFiles"] = list(r.failedFiles);
  j["damagedFiles"] = list(DamagedTexts(r));
  j["report"] = list(messages);
  j["status"] = status;
  PrintJson(j);
}

// The exit status and its reason (empty when everything was written).
int StatusOf(const SaveRunResult& r, std::string& reason) {
  if (!r.started) reason = "nothing was copied";
  else if (!r.completed) reason = "the copy was stopped";
  else if (!r.failedFiles.empty()) reason = Format("%zu file(s) could not be written completely", r.failedFiles.size());
  else if (!r.damagedFiles.empty()) reason = Format("%zu damaged file(s) copied short or skipped", r.damagedFiles.size());
  else if (r.readErrors > 0) reason = Format("%u read error(s) on the source", r.readErrors);
  return reason.empty() ? 0 : 1;
}

// Everything a run found, for the report at the end.
struct RecoverOutcome {
  SaveRunResult result;
  SelectionTotal chosen;
  std::vector<std::string> messages;
  bool volumesFailed = false;  // a chosen volume could not be read
  bool metadataUnread = false;  // a chosen volume was listed without some of its metadata
};

// The exit status and the closing lines on stdout / stderr.
int Report(const RecoverOptions& o, const RecoverOutcome& outcome) {
  const SaveRunResult& r = outcome.result;
  std::string reason;
  int status = StatusOf(r, reason);
  if (status == 0 && outcome.volumesFailed) {
    reason = "some volumes could not be read";
    status = 1;
  }
  if (outcome.metadataUnread) {
    // Files the unreadable metadata held were never found: the run cannot
    // be whole, whatever it copied.
    reason = "unreadable file-system metadata: files it held are missing" + (reason.empty() ? "" : "; " + reason);
    status = 1;
  }
  std::FILE* reportOut = (o.json || !r.started) ? stderr : stdout;
  for (const std::string& m : outcome.messages) std::fprintf(reportOut, "%s\n", PrintableText(m, true).c_str());
  for (const std::string& f : r.failedFiles) std::fprintf(reportOut, "failed: %s\n", PrintableText(f).c_str());
  for (const std::string& f : DamagedTexts(r)) std::fprintf(reportOut, "damaged: %s\n", PrintableText(f).c_str());
  if (o.json) PrintSummaryJson(o, r, outcome.chosen, outcome.messages, status);
  if (status != 0) std::fprintf(stderr, "ambrel-cli recover: %s\n", reason.c_str());
  return status;
}

// Parses the chosen volumes into the catalogue; false when one of them
// could not be read (the others are kept). The metadata that could not be
// read is named in `unread`.
bool LoadChosenVolumes(SourceSession& source, FoundFileCatalog& catalog, std::vector<std::string>& unread) {
  const RecoverOptions& o = g_options;
  bool allRead = true;
  for (const SourceVolume& v : source.Volumes()) {
    if (o.volumes.partition != 0 && v.number != o.volumes.partition) continue;
    ParseProgressLine progress(v.info.displayName);
    VolumeListing listing = source.ListVolume(v.number, o.volumes.scope, nullptr, progress.Observer());
    progress.Finish();
    for (const std::string& line : UnreadMetadataLines(v.number, v, listing)) unread.push_back(line);
    for (const std::string& line : FatCheckLines(v.number, v, listing))
      std::fprintf(stderr, "ambrel-cli recover: warning: %s\n", line.c_str());
    if (listing.problem == ListProblem::kNotAFileSystem) {
      std::fprintf(stderr, "ambrel-cli recover: %s\n",
                   NotFileSystemText(v.number, v.info.startLba, listing.bootSector).c_str());
      allRead = false;
    } else if (listing.problem == ListProblem::kUnreadable) {
      std::fprintf(stderr, "ambrel-cli recover: volume %d (%s): the file system could not be read\n", v.number,
                   FsKindName(v.info.fsKind));
      allRead = false;
    }
    if (listing.volume) catalog.AddPartition(std::move(listing.volume), nullptr, false);
  }
  return allRead;
}

// The --out checks before anything is written (see SourceSession::
// PrepareTarget). The exit status when the run ends here, else -1.
int CheckTarget(SourceSession& source, RecoverOutcome& outcome) {
  const RecoverOptions& o = g_options;
  if (o.out.empty()) return -1;  // the target check names it
  const FolderCheck check = source.PrepareTarget(o.out);
  if (check.problem == FolderProblem::kOnTheSource) {
    outcome.messages.push_back(FolderProblemText(check));
    return Report(o, outcome);
  }
  if (check.problem != FolderProblem::kNone) {
    std::fprintf(stderr, "ambrel-cli recover: --out %s: %s\n", o.out.c_str(), FolderProblemText(check).c_str());
    return 1;
  }
  return -1;
}

// Checks every file of the catalogue and copies them out; the report.
int CopyEverything(FoundFileCatalog& catalog, SourceSession& source, RecoverOutcome& outcome) {
  const RecoverOptions& o = g_options;
  for (std::uint32_t slot = kSignatureSlot; slot < catalog.partitionCount(); ++slot)
    if (catalog.GetCheck(slot, kRootId) != 1) catalog.ToggleCheck(slot, kRootId);
  outcome.chosen = catalog.SumSelected();
  CatchInterrupts();
  KeptMessagesPrompt prompt;
  ProgressBar bar(StderrIsTerminal());
  CopyRequest request;
  request.prompt = &prompt;
  request.view = &bar;
  request.sourcePath = source.IsImageFile() ? std::string() : o.path;
  request.removableSource = source.Removable();
  request.parameters.folder = o.out;
  request.parameters.overwrite = PolicyIndex(o.overwrite, kOverwriteNames);
  request.parameters.readErrors = PolicyIndex(o.readErrors, kReadErrorNames);
  CopyService copies;
  outcome.result = copies.CopyChecked(catalog, request);
  bar.Finish(outcome.result);
  outcome.messages.insert(outcome.messages.end(), prompt.messages.begin(), prompt.messages.end());
  for (const std::string& text : CopyReportTexts(outcome.result, "恢复")) outcome.messages.push_back(text);
  return Report(o, outcome);
}

// Keeps the files the --filter keywords name (all without keywords), then
// copies them.
int FilterAndCopy(FoundFileCatalog& catalog, SourceSession& source, RecoverOutcome& outcome) {
  const std::vector<std::string> keywords = SplitKeywords(g_options.filter);
  if (!keywords.empty()) {
    const std::string message = FilterByKeywords(catalog, keywords);
    if (!message.empty()) {
      std::fprintf(stderr, "%s\nambrel-cli recover: nothing was copied\n", message.c_str());
      return 1;
    }
  }
  return CopyEverything(catalog, source, outcome);
}

// --mode: a deep scan of the whole device, then the copy of what it found
// (the volumes it parsed or rebuilt, and the carved files).
int RunDeepRecover(SourceSession& source) {
  const RecoverOptions& o = g_options;
  RecoverOutcome outcome;
  if (const int status = CheckTarget(source, outcome); status >= 0) return status;
  WholeDeviceScan scan = ScanWholeDevice(source, o.mode);
  if (scan.outcome == WholeDeviceScan::Outcome::kNotScannable) return 1;
  if (scan.outcome == WholeDeviceScan::Outcome::kStopped) {
    std::fprintf(stderr, "ambrel-cli recover: the scan was stopped; nothing was copied\n");
    return 130;
  }
  FoundFileCatalog& catalog = *scan.catalog;
  outcome.messages = std::move(scan.messages);
  // Recordings whose placement could not be checked throughout are written
  // and named in the report.
  for (const video::Recording& r : scan.recordings)
    if (!r.verified) outcome.messages.push_back("partial recording " + r.name + ": " + RecordingState(r));
  return FilterAndCopy(catalog, source, outcome);
}

int RunRecover() {
  const RecoverOptions& o = g_options;
  std::string why;
  std::unique_ptr<SourceSession> source = SourceSession::Open(o.path, &why);
  if (!source) {
    std::fprintf(stderr, "ambrel-cli recover: cannot open %s: %s\n", o.path.c_str(), why.c_str());
    return 1;
  }
  if (o.mode != 0) return RunDeepRecover(*source);
  WarnOfLostGptPartitions(*source, "recover");
  if (source->Volumes().empty()) {
    std::fprintf(stderr, "ambrel-cli recover: %s: %s\n", o.path.c_str(), NoVolumesText(*source).c_str());
    return 1;
  }
  const int wanted = o.volumes.partition;
  if (wanted != 0 && !source->Volume(wanted)) {
    std::fprintf(stderr, "ambrel-cli recover: %s\n", NoVolumeText(wanted, *source).c_str());
    return 1;
  }
  RecoverOutcome outcome;
  if (const int status = CheckTarget(*source, outcome); status >= 0) return status;
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  std::vector<std::string> unread;
  outcome.volumesFailed = !LoadChosenVolumes(*source, catalog, unread);
  outcome.metadataUnread = !unread.empty();
  outcome.messages.insert(outcome.messages.end(), unread.begin(), unread.end());
  return FilterAndCopy(catalog, *source, outcome);
}

const CliCommandRegistrar kRegistrar({"recover", kSynopsis, "copy the files of a disk, volume or image out to a folder",
                                      Define, RunRecover});

}  // namespace
}  // namespace ambrel::cli
