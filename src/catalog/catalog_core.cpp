// Building the catalogue: reset, partition slots, signature-found files and
// the notices to the views.
#include <algorithm>

#include "catalog/catalog_labels.h"
#include "catalog/file_types.h"
#include "catalog/found_file_catalog.h"
#include "catalog/node_growth.h"
#include "catalog/node_table_locked.h"
#include "catalog/type_folder.h"
#include "common/text.h"

namespace ambrel {
namespace {

constexpr char kSignatureLabel[] = "找到的文件";
constexpr char kClassTreeLabel[] = "Virtual";

std::unique_ptr<PartitionInfo> MakeNameTableRecord() {
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsClassTree;
  part->volumeLabel = kClassTreeLabel;
  InitTable(part->table);
  return part;
}

// Slot 0: one folder per category (id = category id) and per type
// (id = type code, under its category, named by the extension).
std::unique_ptr<PartitionInfo> BuildTypeNames() {
  auto part = MakeNameTableRecord();
  for (const FileCategory& c : GetCategories(false))
    AddNodeNamed(part->table, FolderRecord(c.id, kRootId), c.name, false);
  for (const FileTypeEntry& e : GetTypes(false))
    if (e.enabled) AddNodeNamed(part->table, FolderRecord(e.code, e.category), e.extension, false);
  return part;
}

// Slots 1 and 2: every year 1980-2039, its months and 31 days per month.
std::unique_ptr<PartitionInfo> BuildDateNames() {
  auto part = MakeNameTableRecord();
  FoundFileTable& t = part->table;
  // The ids run up to the last day's: room for all of them at once, rather
  // than a copy of the table at every 1024 new ids.
  const std::uint32_t lastDay = DayIdOf(PackPackedTime(kLastTreeYear, 12, 31, 0, 0, 0));
  if (t.capacity <= lastDay) ResizeNodeArray(t.nodes, t.capacity, t.count, lastDay + 1);
  for (int year = kFirstTreeYear; year <= kLastTreeYear; ++year) {
    const std::uint32_t y = static_cast<std::uint32_t>(year);
    AddNodeNamed(t, FolderRecord(y, kRootId), Format("%u年", y), false);
    for (int month = 1; month <= 12; ++month) {
      const PackedTime first = PackPackedTime(year, month, 1, 0, 0, 0);
      const std::uint32_t monthId = MonthIdOf(first);
      AddNodeNamed(t, FolderRecord(monthId, y), Format("%02u月", unsigned(month)), false);
      for (int day = 1; day <= 31; ++day) {
        const std::uint32_t dayId = DayIdOf(PackPackedTime(year, month, day, 0, 0, 0));
        AddNodeNamed(t, FolderRecord(dayId, monthId), Format("%02u日", unsigned(day)), false);
      }
    }
  }
  return part;
}

}  // namespace

std::uint32_t DayIdOf(PackedTime t) {
  if (t == 0) return 0;
  const UnpackedTime u = UnpackPackedTime(t);
  if (u.year > kLastTreeYear || u.month < 1 || u.month > 12 || u.day < 1 || u.day > 31) return 0;
  return 2728u + 372u * unsigned(u.year - kFirstTreeYear) + 31u * unsigned(u.month) + unsigned(u.day);
}

std::uint32_t MonthIdOf(PackedTime t) {
  if (!DayIdOf(t)) return 0;
  const UnpackedTime u = UnpackPackedTime(t);
  return kFirstMonthId + 12u * unsigned(u.year - kFirstTreeYear) + unsigned(u.month) - 1;
}

FoundFileCatalog::FoundFileCatalog() = default;

FoundFileCatalog::~FoundFileCatalog() { FreeAll(); }

void FoundFileCatalog::FreeAll() {
  slotCount_.store(0, std::memory_order_release);
  slots_.clear();
  for (ClassTable& tree : classTrees_) {
    std::lock_guard<std::mutex> hold(tree.guard);
    FreeClassTable(tree);
  }
}

PartitionInfo* FoundFileCatalog::Partition(std::uint32_t slot) {
  return slot < partitionCount() ? slots_[slot].get() : nullptr;
}

const PartitionInfo* FoundFileCatalog::Partition(std::uint32_t slot) const {
  return slot < partitionCount() ? slots_[slot].get() : nullptr;
}

void FoundFileCatalog::BuildNameTables() {
  slots_[0] = BuildTypeNames();
  slots_[1] = BuildDateNames();
  slots_[2] = BuildDateNames();
  slotCount_.store(3, std::memory_order_release);
}

void FoundFileCatalog::InitClassTrees() {
  for (unsigned k = 0; k < classTrees_.size(); ++k) {
    ClassTable& tree = classTrees_[k];
    std::lock_guard<std::mutex> hold(tree.guard);
    ClassNode root{};
    root.id = kRootId;
    root.parentId = kRootId;
    root.slot = k;
    root.nodeId = kRootId;
    AddClassNode(tree, root, false);
    if (k == 0) PresetClassCount(tree, kTypeTreeLeafStart, false);
    else PresetClassCount(tree, kDateTreeLeafStart, true);
  }
}

void FoundFileCatalog::Reset(ScanControl scan, bool notify) {
  {
    std::unique_lock<std::shared_mutex> hold(slotsLock_);
    viewMode_.store(ViewMode::kDirectory, std::memory_order_release);
    FreeAll();
    slots_.resize(kCatalogSlots);
    BuildNameTables();
    InitClassTrees();
    auto found = std::make_unique<PartitionInfo>();
    found->fsKind = kFsSignature;
    found->volumeLabel = kSignatureLabel;
    found->table.isSignatureTable = true;
    InitTable(found->table);
    found->table.count = kTypeTreeLeafStart;  // folder ids up to 236 stay free
    RenameNode(found->table, kRootId, PartitionLabel(kSignatureSlot, *found, {}));
    slots_[kSignatureSlot] = std::move(found);
    slotCount_.store(kSignatureSlot + 1, std::memory_order_release);
  }
  (void)scan;
  if (notify) Broadcast(nullptr, kNoticeSlotAdded, kSignatureSlot, 0);
}

std::uint32_t FoundFileCatalog::AppendSlot(std::unique_ptr<PartitionInfo> part) {
  const std::uint32_t slot = partitionCount();
  if (slot >= kCatalogSlots || slots_.size() < kCatalogSlots) return 0;
  if (slot >= kSignatureSlot) {
    std::string letter;
    if (part->table.hasDriveLetter && driveLetterOf) letter = driveLetterOf(*part);
    RenameNode(part->table, kRootId, PartitionLabel(slot, *part, letter));
  }
  slots_[slot] = std::move(part);
  slotCount_.store(slot + 1, std::memory_order_release);
  return slot;
}

std::uint32_t FoundFileCatalog::AddPartition(std::unique_ptr<PartitionInfo> part, ScanControl scan,
                                             bool notify) {
  if (!part || partitionCount() >= kCatalogSlots || slots_.size() < kCatalogSlots) return 0;
  if (partitionCount() >= 3) {
    part->table.fileCount = PruneAndCount(part->table, kRootId);
    Compact(part->table);
  }
  const bool classify = part->fsKind != kFsSignature;
  const std::uint32_t slot = AppendSlot(std::move(part));
  if (!slot) return 0;
  if (slot >= kFirstPartitionSlot && classify) {
    ClassifyPartition(slot, scan);
    for (unsigned k = 0; k < classTrees_.size(); ++k) RecountTree(k);
  }
  if (notify) {
    Broadcast(nullptr, kNoticeSlotAdded, slot, 0);
    if (slot == kFirstPartitionSlot) {
      const FoundFileTable& found = slots_[kSignatureSlot]->table;
      std::uint32_t files;
      {
        std::lock_guard<std::mutex> hold(found.guard);
        files = found.fileCount;
      }
      if (files == 0) SendToMainWindow(kNoticeFirstResult);
    }
  }
  return slot;
}

void FoundFileCatalog::LoadResults(std::vector<std::unique_ptr<PartitionInfo>> list,
                                   ScanControl scan) {
  // The partitions added while the scan ran stay: their starts are known to
  // the scan, so the end-of-scan list does not hold them again. Only the
  // files found by signature are replaced.
  if (partitionCount() <= kSignatureSlot) Reset(scan, false);
  for (auto& part : list) {
    if (!part) continue;
    if (part->fsKind != kFsSignature) {
      AddPartition(std::move(part), scan, false);
      continue;
    }
    std::unique_lock<std::shared_mutex> hold(slotsLock_);
    FoundFileTable& t = part->table;
    t.isSignatureTable = true;
    if (!IsLive(t, kRootId)) InitTable(t);
    if (t.count < kTypeTreeLeafStart && t.capacity >= kTypeTreeLeafStart) t.count = kTypeTreeLeafStart;
    RenameNode(t, kRootId, PartitionLabel(kSignatureSlot, *part, {}));
    slots_[kSignatureSlot] = std::move(part);
  }
  if (partitionCount() > 3) Broadcast(nullptr, kNoticeResultsLoaded, kFirstPartitionSlot, 0);
}

std::uint32_t FoundFileCatalog::AddFoundFile(const FoundFileNode& node, std::string_view name) {
  if (partitionCount() <= kSignatureSlot) return 0;
  FoundFileTable& t = slots_[kSignatureSlot]->table;
  const std::uint32_t code = node.parentId;
  std::uint32_t id;
  std::uint32_t filesBefore;
  {
    std::lock_guard<std::mutex> hold(t.guard);
    filesBefore = t.fileCount;
    FoundFileNode record = node;
    record.id = 0;
    record.parentId = kRootId;
    if (record.typeCode == 0) record.typeCode = static_cast<std::uint8_t>(code);
    if (locked::TypeFolder(t, code) != 0) record.parentId = code;
    id = locked::AddNode(t, record, name, true);
  }
  if (!id) return 0;
  Broadcast(nullptr, kNoticeFoundFileAdded, 0, 0);
  if (filesBefore == 0) SendToMainWindow(kNoticeFirstResult);
  return id;
}

SelectionTotal FoundFileCatalog::SumSelected() const {
  std::shared_lock<std::shared_mutex> hold(slotsLock_);
  SelectionTotal total;
  for (std::uint32_t s = 0; s < partitionCount(); ++s)
    if (slots_[s]) AddSelected(slots_[s]->table, total);
  return total;
}

void FoundFileCatalog::RegisterListener(NoticeListener* listener) {
  std::lock_guard<std::mutex> hold(listenersLock_);
  if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
}

void FoundFileCatalog::UnregisterListener(NoticeListener* listener) {
  std::lock_guard<std::mutex> hold(listenersLock_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
  if (mainWindow_ == listener) mainWindow_ = nullptr;
}

void FoundFileCatalog::SetMainWindow(NoticeListener* listener) {
  std::lock_guard<std::mutex> hold(listenersLock_);
  mainWindow_ = listener;
}

void FoundFileCatalog::Broadcast(NoticeListener* sender, std::uint32_t message,
                                 std::uint64_t wparam, std::uint64_t lparam) {
  std::vector<NoticeListener*> targets;
  {
    std::lock_guard<std::mutex> hold(listenersLock_);
    targets = listeners_;
  }
  for (NoticeListener* l : targets)
    if (l != sender) l->OnNotice(message, wparam, lparam);
}

void FoundFileCatalog::PostMark(std::uint32_t row, std::uint32_t col) {
  Broadcast(nullptr, kNoticeThumbnail, row, col);
}

void FoundFileCatalog::SendToMainWindow(std::uint32_t message) {
  NoticeListener* target;
  {
    std::lock_guard<std::mutex> hold(listenersLock_);
    target = mainWindow_;
  }
  if (target) target->OnNotice(message, 0, 0);
}

}  // namespace ambrel
