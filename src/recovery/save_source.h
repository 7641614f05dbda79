// What the copy-out needs from the session's found files: nodes addressed by
// (row, id), their children, the row labels and the filter view. The
// session catalogue answers through this interface; PartitionRows answers
// for a plain list of parsed partitions (the command line).
//
// Threads: the copying thread calls it while the front end waits for the
// run, so implementations only have to be safe against the catalogue's own
// readers (they take each table's guard).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/found_file_node.h"
#include "catalog/partition_info.h"

namespace ambrel {

// A resolved node: a copy of the record (childIds must not be used), its
// name, and the partition whose data it describes.
struct SaveNode {
  FoundFileNode record{};
  std::string name;
  const PartitionInfo* partition = nullptr;
};

class SaveSource {
 public:
  virtual ~SaveSource() = default;
  // The visible node at (row, id); false when missing or invisible.
  virtual bool Resolve(std::uint32_t row, std::uint32_t id, SaveNode& out) const = 0;
  // Ids of the visible children of (row, id), the root id skipped.
  virtual std::vector<std::uint32_t> Children(std::uint32_t row, std::uint32_t id) const = 0;
  // The text of the row's root.
  virtual std::string Label(std::uint32_t row) const = 0;
  // Every row that may hold marked items.
  virtual std::vector<std::uint32_t> Rows() const = 0;
  // True while the found files are shown as filter results (view mode -1).
  virtual bool FilterView() const = 0;
};

// Rows 0..n-1 over parsed partitions (owned by the caller, which must keep
// them alive and unchanged during a run).
class PartitionRows final : public SaveSource {
 public:
  void Add(PartitionInfo* partition, std::string label);
  void SetFilterView(bool on) { filterView_ = on; }

  bool Resolve(std::uint32_t row, std::uint32_t id, SaveNode& out) const override;
  std::vector<std::uint32_t> Children(std::uint32_t row, std::uint32_t id) const override;
  std::string Label(std::uint32_t row) const override;
  std::vector<std::uint32_t> Rows() const override;
  bool FilterView() const override { return filterView_; }

 private:
  std::vector<PartitionInfo*> partitions_;
  std::vector<std::string> labels_;
  bool filterView_ = false;
};

// Marks, below `folderId`, every file for which `wanted` holds as checked
// (state 1) and clears the others; folders get 1 (all files below checked),
// 2 (some) or 0 (none). Returns the number of checked files.
template <typename Pred>
std::uint64_t MarkFiles(FoundFileTable& table, std::uint32_t folderId, Pred wanted);

}  // namespace ambrel

#include "recovery/save_source_marks.h"
