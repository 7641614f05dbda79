// ambrel-cli recover: parses the volumes of a disk, a volume or an image,
// checks the chosen files and copies them out under a target folder, with
// a progress bar on stderr and the completion report at the end.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/progress.h"
#include "app/settings.h"
#include "app/user_prompt.h"
#include "commands.h"
#include "common/text.h"
#include "fs/views/recycle_bin.h"
#include "platform/interrupt.h"
#include "catalog/found_file_catalog.h"
#include "catalog/search_filter.h"
#include "recovery/catalog_rows.h"
#include "recovery/copy_out.h"
#include "device_output.h"
#include "volume_loader.h"

namespace ambrel::cli {
namespace {


struct RecoverOptions {
  std::string path;
  std::string out;
  int partition = 0;  // 0 = every volume
  Scope scope = Scope::kAll;
  std::vector<std::string> keywords;
  SaveParameters parameters;
  bool json = false;
};

const char* const kUsage =
    "recover PATH --out DIR [--partition N] [--deleted|--present|--recycle] [--filter \"KEYWORDS\"] "
    "[--overwrite ask|yes|skip] [--read-errors empty|keep|all] [--set KEY=VALUE]... [--json]";

bool ParsePolicy(const std::string& text, const std::vector<std::string>& names, std::uint32_t& out) {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (text == names[i]) {
      out = static_cast<std::uint32_t>(i);
      return true;
    }
  return false;
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

bool ParseArguments(int argc, char** argv, RecoverOptions& o) {
  bool outGiven = false;  // an empty --out is left to the target check
  bool valid = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--out" && hasValue) {
      o.out = argv[++i];
      outGiven = true;
    } else if (ParseVolumeOption(argc, argv, i, o.partition, o.scope, valid)) {
      if (!valid) return false;
    } else if (arg == "--filter" && hasValue) {
      o.keywords = SplitKeywords(argv[++i]);
    } else if (arg == "--overwrite" && hasValue) {
      if (!ParsePolicy(argv[++i], {"ask", "yes", "skip"}, o.parameters.overwrite)) return false;
    } else if (arg == "--read-errors" && hasValue) {
      if (!ParsePolicy(argv[++i], {"empty", "keep", "all"}, o.parameters.readErrors)) return false;
    } else if (arg == "--set" && hasValue) {
      const std::string kv = argv[++i];
      const auto eq = kv.find('=');
      if (eq == std::string::npos || eq == 0) return false;
      OverrideSetting(kv.substr(0, eq), kv.substr(eq + 1));
      ComputeDerivedSettings();
    } else if (arg == "--json") {
      o.json = true;
    } else if (!arg.empty() && arg[0] != '-' && o.path.empty()) {
      o.path = arg;
    } else {
      return false;
    }
  }
  o.parameters.folder = o.out;
  return !o.path.empty() && outGiven;
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

// Questions go to the terminal; messages are kept for the report.
class ReportPrompt final : public UserPrompt {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string& text) override { return CurrentUserPrompt().AskYesNo(text); }
  std::vector<std::string> messages;
};

// One line on stderr: files and MiB done, speed and the current file.
class ProgressBar final : public SaveProgressView {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled), start_(std::chrono::steady_clock::now()) {}
  void Poll(SaveJob& job) override {
    if (InterruptRequested()) job.state = kJobStopRequested;  // Ctrl+C: stop after this chunk
    ScanProgress p;
    if (!TakeProgress(p) || p.stage != kStageCopy) return;
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
                 Utf8Prefix(c.currentName, 40).c_str());
    std::fflush(stderr);
  }

  bool enabled_;
  bool seen_ = false;
  ScanProgress last_{};
  std::chrono::steady_clock::time_point start_;
};

void PrintJson(const RecoverOptions& o, const SaveRunResult& r, const SelectionTotal& chosen,
               const std::vector<std::string>& messages, int status) {
  auto list = [](const std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& t : texts) {
      if (!out.empty()) out.append(1, ',');
      out.append(JsonQuote(t));
    }
    return out;
  };
  const std::string failed = list(r.failedFiles) + "],\"damagedFiles\":[" + list(r.damagedFiles),
                    report = list(messages);
  std::printf("{\"source\":%s,\"target\":%s,\"outputFolder\":%s,\"started\":%s,\"completed\":%s,"
              "\"chosenFiles\":%llu,\"chosenBytes\":%llu,\"files\":%u,\"bytes\":%llu,\"reads\":%u,"
              "\"readErrors\":%u,\"failedFiles\":[%s],\"report\":[%s],\"status\":%d}\n",
              JsonQuote(o.path).c_str(), JsonQuote(o.out).c_str(), JsonQuote(r.outputFolder).c_str(),
              r.started ? "true" : "false", r.completed ? "true" : "false",
              static_cast<unsigned long long>(chosen.files), static_cast<unsigned long long>(chosen.bytes), r.files,
              static_cast<unsigned long long>(r.bytes), r.reads, r.readErrors, failed.c_str(), report.c_str(),
              status);
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

int RunRecover(int argc, char** argv) {
  RecoverOptions o;
  if (!ParseArguments(argc, argv, o)) {
    std::fprintf(stderr, "usage: ambrel-cli %s\n", kUsage);
    return 2;
  }
  DiskHandle disk;
  std::string why;
  if (!OpenByPath(o.path, disk, &why)) {
    std::fprintf(stderr, "ambrel-cli recover: cannot open %s: %s\n", o.path.c_str(), why.c_str());
    return 1;
  }
  std::vector<Volume> volumes = FindVolumes(disk, o.path);
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  for (Volume& v : volumes) {
    if (o.partition != 0 && v.number != o.partition) continue;
    if (!LoadVolume(v)) {
      std::fprintf(stderr, "ambrel-cli recover: volume %d (%s) could not be read\n", v.number,
                   FsKindName(v.info.fsKind));
      continue;
    }
    if (auto part = ScopedVolume(o.scope, v.info)) catalog.AddPartition(std::move(part), nullptr, false);
  }
  if (!o.keywords.empty()) {
    const std::string message = FilterByKeywords(catalog, o.keywords);
    if (!message.empty()) {
      std::fprintf(stderr, "%s\nambrel-cli recover: nothing was copied\n", message.c_str());
      return 1;
    }
  }
  for (std::uint32_t slot = kSignatureSlot; slot < catalog.partitionCount(); ++slot)
    if (catalog.GetCheck(slot, kRootId) != 1) catalog.ToggleCheck(slot, kRootId);
  const SelectionTotal chosen = catalog.SumSelected();
  CatalogRows rows(catalog);
  CatchInterrupts();
  ReportPrompt prompt;
  ProgressBar bar(::isatty(STDERR_FILENO) != 0);
  SaveContext context;
  context.source = &rows;
  context.prompt = &prompt;
  context.view = &bar;
  context.sourcePath = o.path;
  context.removableSource = IsUsbDevice(disk);
  const SaveRunResult r = RecoverChecked(context, o.parameters, chosen.files, chosen.bytes);
  bar.Finish(r);
  std::string reason;
  const int status = StatusOf(r, reason);
  std::FILE* reportOut = (o.json || !r.started) ? stderr : stdout;
  for (const std::string& m : prompt.messages) std::fprintf(reportOut, "%s\n", m.c_str());
  for (const std::string& f : r.failedFiles) std::fprintf(reportOut, "failed: %s\n", f.c_str());
  for (const std::string& f : r.damagedFiles) std::fprintf(reportOut, "damaged: %s\n", f.c_str());
  if (o.json) PrintJson(o, r, chosen, prompt.messages, status);
  if (status != 0) std::fprintf(stderr, "ambrel-cli recover: %s\n", reason.c_str());
  return status;
}

const CliCommandRegistrar kRegistrar("recover", kUsage, RunRecover);

}  // namespace
}  // namespace ambrel::cli
