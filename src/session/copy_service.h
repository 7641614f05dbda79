// The copies of one session: "恢复" of the checked files, the quick save of
// one item and "打开", from the catalogue the face shows, with the ledger
// (statistics, last folder, temporary copies) that only this session sees.
//
// Threads: the face's thread; the copying runs on the thread each command
// starts and waits for.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/found_file_catalog.h"
#include "recovery/copy_out.h"

namespace ambrel {

// What a copy command needs besides the catalogue and the item.
struct CopyRequest {
  SaveParameters parameters;
  std::string sourcePath;        // a device source: the target must lie elsewhere (empty: no check)
  bool removableSource = false;  // the read-error report adds the cable advice
  ScanGateInput scan;            // the scan that may still be running
  UserPrompt* prompt = nullptr;  // the overwrite question
  SaveProgressView* view = nullptr;
  SourceOpener opener;           // tests put a faulty device in between
};

class CopyService {
 public:
  SaveRunResult CopyChecked(const FoundFileCatalog& catalog, const CopyRequest& request);
  SaveRunResult CopyOne(const FoundFileCatalog& catalog, std::uint32_t row, std::uint32_t id,
                        const CopyRequest& request);
  SaveRunResult Open(const FoundFileCatalog& catalog, std::uint32_t row, std::uint32_t id,
                     const CopyRequest& request);
  // The target checks of the save dialog, before a run.
  CopyRefusal CheckTarget(const std::string& folder, std::uint64_t bytes, const std::string& sourcePath) const {
    return ValidateTarget(folder, bytes, sourcePath);
  }
  std::string LastOutputFolder() const { return ledger_.OutputFolder(); }
  CopyLedger& Ledger() { return ledger_; }

 private:
  CopyLedger ledger_;
};

}  // namespace ambrel
