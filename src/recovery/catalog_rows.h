// The session catalogue as the copy-out's source: rows and nodes by
// (row, col), with the catalogue's visibility (the filter view hides what
// the filter did not hit) and labels.
//
// Threads: the copying thread calls it while the interface thread waits for
// the run; the catalogue takes each table's guard itself.
#pragma once

#include "catalog/found_file_catalog.h"
#include "recovery/save_source.h"

namespace ambrel {

class CatalogRows final : public SaveSource {
 public:
  explicit CatalogRows(const FoundFileCatalog& catalog) : catalog_(catalog) {}

  bool Resolve(std::uint32_t row, std::uint32_t id, SaveNode& out) const override;
  std::vector<std::uint32_t> Children(std::uint32_t row, std::uint32_t id) const override;
  std::string Label(std::uint32_t row) const override { return catalog_.GetLabel(row); }
  // The classification row of the current view in modes 0-2; otherwise
  // every partition slot from 3 upward.
  std::vector<std::uint32_t> Rows() const override;
  bool FilterView() const override { return catalog_.viewMode() == ViewMode::kFilter; }

 private:
  const FoundFileCatalog& catalog_;
};

}  // namespace ambrel
