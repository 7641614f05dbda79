// Following a deep scan from the command line: its progress line on stderr,
// p or space on a terminal to pause and resume, Ctrl+C or SIGTERM to stop.
// Main thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalog/found_file_catalog.h"
#include "session/program.h"
#include "session/scan_job.h"
#include "session/source_session.h"
#include "session/worded_prompt.h"

namespace ambrel::cli {

// Follows a started scan until it ends; then "scan finished" or "scan
// stopped".
void FollowScan(ScanJob& scan);
// Starts the scan and follows it; true when the scan completed (false when
// it was stopped or could not start).
bool RunScanWithProgress(ScanJob& scan);

// Messages are kept for the command's report; questions go to the
// program's prompt.
class KeptMessagesPrompt final : public WordedPrompt {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool Ask(const PromptMessage& question) override { return CurrentUserPrompt().Ask(question); }
  bool AskYesNo(const std::string&) override { return false; }  // every question goes through Ask
  std::vector<std::string> messages;
};

// A deep scan of the whole device in one mode, run as recover --mode and
// show --mode run it: no scan-state file, no delay before the organisation
// (no window to redraw), the scan's messages kept for the caller's report
// and its questions put to the program's prompt.
struct WholeDeviceScan {
  enum class Outcome { kCompleted, kNotScannable, kStopped };
  Outcome outcome = Outcome::kNotScannable;
  std::unique_ptr<FoundFileCatalog> catalog;  // the results, when completed
  std::vector<std::string> messages;
  std::vector<video::Recording> recordings;
};
WholeDeviceScan ScanWholeDevice(SourceSession& source, int modeNumber);

}  // namespace ambrel::cli
