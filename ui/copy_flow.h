// The copy-out commands of the results browser: "恢复" (the checked items),
// quick save of one item and "打开" (one file through a temporary copy).
// The checks and the save dialog run on the GUI thread; the run itself is
// the session's copy service, started on a worker behind the modal
// progress dialog. Its questions (overwrite?) reach the user while the run
// waits; its report is shown once the dialog has closed.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "catalog/found_file_catalog.h"
#include "session/copy_service.h"
#include "session/worded_prompt.h"

namespace ambrel::ui {

struct CopySession {
  std::string sourcePath;        // the device or image being recovered
  bool removableSource = false;
  bool imageSource = false;      // a target beside an image file is allowed
  // What the deep scan is doing, read when a copy is asked for (none: no
  // scan runs).
  std::function<ScanGateInput()> scanGate;
  ScanGateInput Gate() const { return scanGate ? scanGate() : ScanGateInput{}; }
};

class CopyFlow {
 public:
  CopyFlow(FoundFileCatalog& catalog, WordedPrompt& prompt, QWidget* window)
      : catalog_(catalog), prompt_(prompt), window_(window) {}
  void setSession(const CopySession& session) { session_ = session; }
  const CopySession& session() const { return session_; }
  // The folder the last run wrote into.
  std::string LastOutputFolder() const { return copies_.LastOutputFolder(); }

  void RecoverChecked();
  void QuickSave(std::uint32_t row, std::uint32_t id);
  bool QuickOpen(std::uint32_t row, std::uint32_t id);

 private:
  // The device whose disk the target must avoid (empty for an image).
  std::string GuardedSource() const { return session_.imageSource ? std::string() : session_.sourcePath; }
  // Runs `run` behind the progress dialog; then shows what it reported.
  void RunAndReport(const std::string& verb, bool report,
                    const std::function<SaveRunResult(CopyRequest&)>& run);
  bool ShowRefusal(CopyRefusal refusal, const std::string& verb);

  FoundFileCatalog& catalog_;
  WordedPrompt& prompt_;
  QWidget* window_;
  CopySession session_;
  CopyService copies_;
};

}  // namespace ambrel::ui
