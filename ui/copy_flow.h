// The copy-out commands of the results browser: "恢复" (the checked items),
// quick save of one item and "打开" (one file through a temporary copy).
// The checks and the save dialog run on the GUI thread; the run itself is
// the core's, started on a worker behind the modal progress dialog. Its
// questions (overwrite?) reach the user while the run waits; its messages
// (the completion report) are shown once the dialog has closed.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "app/notify.h"
#include "catalog/found_file_catalog.h"
#include "recovery/copy_out.h"

namespace ambrel::ui {

struct CopySession {
  std::string sourcePath;        // the device or image being recovered
  bool removableSource = false;
  // What the deep scan is doing, read when a copy is asked for (none: no
  // scan runs).
  std::function<ScanGateInput()> scanGate;
  ScanGateInput Gate() const { return scanGate ? scanGate() : ScanGateInput{}; }
};

class CopyFlow {
 public:
  CopyFlow(FoundFileCatalog& catalog, UserPrompt& prompt, QWidget* window)
      : catalog_(catalog), prompt_(prompt), window_(window) {}
  void setSession(const CopySession& session) { session_ = session; }
  const CopySession& session() const { return session_; }

  void RecoverChecked();
  void QuickSave(std::uint32_t row, std::uint32_t id);
  bool QuickOpen(std::uint32_t row, std::uint32_t id);

 private:
  SaveContext ContextFor(UserPrompt& prompt) const;
  // Runs `run` behind the progress dialog; then shows what it reported.
  template <typename Run>
  void RunAndReport(Run run);

  FoundFileCatalog& catalog_;
  UserPrompt& prompt_;
  QWidget* window_;
  CopySession session_;
};

}  // namespace ambrel::ui
