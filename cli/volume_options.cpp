#include "volume_options.h"

#include <chrono>
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

namespace ambrel::cli {

namespace {

// A volume number: decimal digits only, from 1 (partition numbers of MBR
// and GPT tables stay far below the limit).
std::string CheckVolumeNumber(const std::string& text) {
  const bool digits = !text.empty() && text.size() <= 6 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(text) == 0) return "'" + text + "' is not a volume number (1, 2, ...)";
  return {};
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void AddVolumeOptions(CLI::App& app, VolumeOptions& o) {
  app.add_option("--partition", o.partition, "only volume N (see the volume numbers of info or list)")
      ->type_name("N")
      ->check(CLI::Validator([](std::string& text) { return CheckVolumeNumber(text); }, ""));
  CLI::Option* deleted = app.add_flag_callback("--deleted", [&o] { o.scope = ListScope::kDeleted; },
                                               "only deleted entries (and the folders that hold them)");
  CLI::Option* present = app.add_flag_callback("--present", [&o] { o.scope = ListScope::kPresent; },
                                               "only entries that were not deleted");
  CLI::Option* recycle = app.add_flag_callback("--recycle", [&o] { o.scope = ListScope::kRecycle; },
                                               "only the recycle bin");
  deleted->excludes(present)->excludes(recycle);
  present->excludes(recycle);
}

ParseProgressLine::ParseProgressLine(const std::string& name) : name_(name), startMs_(NowMs()) {}

ParseObserver ParseProgressLine::Observer() {
  return [this](const ScanProgress& p) {
    if (NowMs() - startMs_ <= 1000) return;
    std::fprintf(stderr, "\rparsing %s: %d files, %d folders, %d deleted files, %d deleted folders", name_.c_str(),
                 p.u.parse.presentFiles, p.u.parse.presentDirs, p.u.parse.deletedFiles, p.u.parse.deletedDirs);
    shown_ = true;
  };
}

void ParseProgressLine::Finish() {
  if (shown_) std::fprintf(stderr, "\n");
  shown_ = false;
}

}  // namespace ambrel::cli
