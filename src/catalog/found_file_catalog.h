// The session catalogue of found files: partition results in slots, the
// three classification trees (by type, creation date, modification date),
// addressing by (row, col) for the views, check marks and the notices to
// the registered views.
//
// Rows: a catalogue slot (0-4095), or kClassRow + k for classification tree
// k (0 by type, 1 by creation date, 2 by modification date). Col: a node id
// in that row. Slots 0-2 hold the name tables of the three trees, slot 3 the
// files found by signature, slots 4 and up one partition result each.
//
// Threads: workers call Reset, AddPartition, LoadResults and AddFoundFile;
// the interface thread calls the lookups, ToggleCheck, Rename, Navigate and
// SetViewMode; the preview loader calls SetMark. Each table is changed and
// read under its own guard (never two partition tables at once, and a
// classification tree's guard only ever before a partition table's); the
// slot array is replaced only by Reset and LoadResults, which exclude the
// lookups. No lock is held while a notice is delivered: listeners receive
// notices synchronously, in order, on the thread that raised them, and may
// call back into the catalogue.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/notify.h"
#include "catalog/class_table.h"
#include "catalog/node_table.h"
#include "catalog/partition_info.h"

namespace ambrel {

inline constexpr std::uint32_t kCatalogSlots = 4096;
inline constexpr std::uint32_t kClassRow = 0x10000;
inline constexpr std::uint32_t kSignatureSlot = 3;
inline constexpr std::uint32_t kFirstPartitionSlot = 4;
inline constexpr std::uint32_t kTypeTreeLeafStart = 237;
inline constexpr std::uint32_t kDateTreeLeafStart = 25080;
inline constexpr std::uint32_t kFirstMonthId = 2040;
inline constexpr std::uint32_t kFirstDayId = 2760;
inline constexpr int kFirstTreeYear = 1980;
inline constexpr int kLastTreeYear = 2039;
inline constexpr std::uint32_t kClassifyProgressStep = 1879;

// The five views of the results. The number is the one the view notice
// (1227) carries; the three classification views are also the offset of
// their tree's row from kClassRow.
enum class ViewMode : std::int32_t {
  kDirectory = -2,
  kFilter = -1,
  kByType = 0,
  kByCreated = 1,
  kByModified = 2,
};
constexpr std::int32_t ViewNumber(ViewMode mode) { return static_cast<std::int32_t>(mode); }
constexpr bool IsClassView(ViewMode mode) { return mode >= ViewMode::kByType && mode <= ViewMode::kByModified; }

// Window-message numbers of the notices.
enum CatalogNotice : std::uint32_t {
  kNoticeFirstResult = 1128,
  kNoticeNavigate = 1224,
  kNoticeCheckChanged = 1225,
  kNoticeResultsLoaded = 1226,
  kNoticeViewMode = 1227,
  kNoticeFilterApplied = 1228,
  kNoticeSlotAdded = 1229,
  kNoticeFoundFileAdded = 1230,
  kNoticeRenamed = 1231,
  kNoticeThumbnail = 1233,
};

// The scan control word of a running scan: 0 running, 1 paused, 2 stop
// requested, 3 finished. Null when no scan controls the call.
using ScanControl = const std::atomic<std::uint32_t>*;

// Day id of a date in the date trees: 2728 + 372 x (year - 1980) + 31 x
// month + day, so 1 January 1980 is 2760. 0 for a time that has no folder
// (0, a year after 2039, a month or day out of range).
std::uint32_t DayIdOf(PackedTime t);
std::uint32_t MonthIdOf(PackedTime t);

class FoundFileCatalog {
 public:
  FoundFileCatalog();
  ~FoundFileCatalog();
  FoundFileCatalog(const FoundFileCatalog&) = delete;
  FoundFileCatalog& operator=(const FoundFileCatalog&) = delete;

  // ---- building (worker threads) ----
  // Must precede everything else: a new catalogue has no slots.
  void Reset(ScanControl scan, bool notify);
  // Takes over `part`; returns its slot, or 0 when the slots are full.
  std::uint32_t AddPartition(std::unique_ptr<PartitionInfo> part, ScanControl scan, bool notify);
  // Appends the end-of-scan results to what the catalogue holds (a new
  // catalogue is reset first); a kind-15 record replaces slot 3.
  void LoadResults(std::vector<std::unique_ptr<PartitionInfo>> list, ScanControl scan);
  // Adds a file found by signature to slot 3 under its category and type
  // folders; node.parentId carries the type code. Returns the id, 0 on
  // failure. The name is copied (node.name is ignored).
  std::uint32_t AddFoundFile(const FoundFileNode& node, std::string_view name);

  // ---- lookups by (row, col) (interface thread) ----
  // Copy of the visible node (for a classification row, the referenced
  // file or name node); its childIds must not be used (see GetChildren).
  std::optional<FoundFileNode> GetNode(std::uint32_t row, std::uint32_t col) const;
  // The (slot, id) a classification row's node refers to; a partition
  // row's node refers to itself.
  bool Resolve(std::uint32_t row, std::uint32_t col, std::uint32_t& slot, std::uint32_t& id) const;
  std::vector<std::uint32_t> GetChildren(std::uint32_t row, std::uint32_t col,
                                         bool onlyWithChildren) const;
  std::vector<std::uint32_t> GetPath(std::uint32_t row, std::uint32_t col) const;
  std::string GetLabel(std::uint32_t row) const;
  // A folder: "name     (n个文件)"; a file: its name; a root: the row's label.
  std::string GetItemText(std::uint32_t row, std::uint32_t col) const;
  unsigned GetCheck(std::uint32_t row, std::uint32_t col) const;
  bool ToggleCheck(std::uint32_t row, std::uint32_t col, NoticeListener* sender = nullptr);
  bool Rename(std::uint32_t row, std::uint32_t col, std::string_view text,
              NoticeListener* sender = nullptr);
  bool SetMark(std::uint32_t row, std::uint32_t col, unsigned mark);
  bool Navigate(std::uint32_t row, std::uint32_t col, NoticeListener* sender = nullptr);
  // Modes -2..2. Mode -1 (the filter view) is entered only after a filter
  // was applied: false, and the mode unchanged, when no slot from 4 upward
  // has hits.
  bool SetViewMode(ViewMode mode, NoticeListener* sender = nullptr);
  ViewMode viewMode() const { return viewMode_.load(std::memory_order_acquire); }
  std::uint32_t FirstVisibleFile(std::uint32_t row, const std::vector<std::uint32_t>& ids) const;

  // Checked files of every table (visible or not).
  SelectionTotal SumSelected() const;

  // ---- slots ----
  std::uint32_t partitionCount() const { return slotCount_.load(std::memory_order_acquire); }
  PartitionInfo* Partition(std::uint32_t slot);
  const PartitionInfo* Partition(std::uint32_t slot) const;
  ClassTable& ClassTree(unsigned k) { return classTrees_[k]; }
  const ClassTable& ClassTree(unsigned k) const { return classTrees_[k]; }

  // ---- listeners ----
  void RegisterListener(NoticeListener* listener);
  void UnregisterListener(NoticeListener* listener);
  void SetMainWindow(NoticeListener* listener);
  // Delivers `message` to every registered listener except `sender`.
  void Broadcast(NoticeListener* sender, std::uint32_t message, std::uint64_t wparam,
                 std::uint64_t lparam);
  // Delivers 1233 (row, col) to every registered listener.
  void PostMark(std::uint32_t row, std::uint32_t col);

  // The drive letter of a partition that `hasDriveLetter` marks (the volume
  // of its disk that starts at its start sector); empty when none.
  std::function<std::string(const PartitionInfo&)> driveLetterOf;

 private:
  struct Ref {
    std::uint32_t slot = 0;  // slot of the table that holds the node
    std::uint32_t id = 0;    // its id there
  };
  // Helpers below expect slotsLock_ held (shared or exclusive).
  bool ResolveRef(std::uint32_t row, std::uint32_t col, Ref& ref) const;
  bool VisibleRef(const Ref& ref) const;
  bool Visible(std::uint32_t row, std::uint32_t col) const;
  std::vector<std::uint32_t> RawChildren(std::uint32_t row, std::uint32_t col) const;
  std::uint32_t ParentIn(std::uint32_t row, std::uint32_t col) const;
  bool IsFolderAt(std::uint32_t row, std::uint32_t col) const;
  unsigned StateAt(std::uint32_t row, std::uint32_t col) const;
  void SetStateAt(std::uint32_t row, std::uint32_t col, unsigned state);
  void SetStateBelow(std::uint32_t row, std::uint32_t col, unsigned state);
  void UpdateAncestors(std::uint32_t row, std::uint32_t col);
  unsigned FolderStateFromChildren(std::uint32_t row, std::uint32_t col) const;
  void RecomputeChecks(ViewMode mode);
  void RecomputeTreeChecks(std::uint32_t row);
  std::string RowLabel(std::uint32_t row) const;
  bool EnterFilterView(NoticeListener* sender);

  void FreeAll();
  void BuildNameTables();
  void InitClassTrees();
  void ClassifyPartition(std::uint32_t slot, ScanControl scan);
  void RecountTree(unsigned k);
  void PlaceClassLeaf(unsigned k, std::uint32_t parent, std::uint32_t slot, std::uint32_t id);
  void EnsureClassFolder(unsigned k, std::uint32_t id, std::uint32_t parent);
  std::uint32_t AppendSlot(std::unique_ptr<PartitionInfo> part);
  void SendToMainWindow(std::uint32_t message);

  mutable std::shared_mutex slotsLock_;   // held shared by lookups, exclusive to swap slots
  std::vector<std::unique_ptr<PartitionInfo>> slots_;
  std::atomic<std::uint32_t> slotCount_{0};
  std::array<ClassTable, 3> classTrees_;
  std::atomic<ViewMode> viewMode_{ViewMode::kDirectory};

  std::mutex listenersLock_;
  std::vector<NoticeListener*> listeners_;
  NoticeListener* mainWindow_ = nullptr;

};

}  // namespace ambrel
