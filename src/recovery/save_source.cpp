#include "recovery/save_source.h"

#include <mutex>

#include "catalog/node_table.h"
#include "common/text.h"

namespace ambrel {

namespace {

const char* KindName(std::int32_t kind) {
  switch (kind) {
    case kFsNtfs: return "NTFS ";
    case kFsFat16: return "FAT16 ";
    case kFsFat32: return "FAT32 ";
    case kFsExfat: return "EXFAT ";
    case kFsFatDirScan: return "FatDir ";
    case kFsExfatDirScan: return "ExfatDir ";
    default: return "";
  }
}

}  // namespace

std::string PartitionRowLabel(std::uint32_t row, const PartitionInfo& partition) {
  std::string label = Format("%02u ", row);
  label += partition.volumeLabel + " ";
  if (partition.table.listingScope == 2) label += "删除文件 ";
  if (partition.table.listingScope == 1) label += "正常文件 ";
  label += KindName(partition.fsKind);
  label += Format(" (%u个文件)", partition.table.fileCount);
  return label;
}

void PartitionRows::Add(PartitionInfo* partition, std::string label) {
  partitions_.push_back(partition);
  labels_.push_back(std::move(label));
}

bool PartitionRows::Resolve(std::uint32_t row, std::uint32_t id, SaveNode& out) const {
  if (row >= partitions_.size()) return false;
  const PartitionInfo& p = *partitions_[row];
  std::lock_guard<std::mutex> lock(p.table.guard);
  const FoundFileNode* n = NodeAt(p.table, id);
  if (n == nullptr) return false;
  // In the filter view folders stay reachable so that the hits below them
  // can be; files need the filter-hit bit, which SaveFile checks.
  out.record = *n;
  out.record.childIds = nullptr;
  out.name = n->name;
  out.partition = &p;
  return true;
}

std::vector<std::uint32_t> PartitionRows::Children(std::uint32_t row, std::uint32_t id) const {
  std::vector<std::uint32_t> out;
  if (row >= partitions_.size()) return out;
  for (std::uint32_t child : ChildIdsOf(partitions_[row]->table, id))
    if (child != kRootId && child != id) out.push_back(child);
  return out;
}

std::string PartitionRows::Label(std::uint32_t row) const {
  return row < labels_.size() ? labels_[row] : std::string();
}

std::vector<std::uint32_t> PartitionRows::Rows() const {
  std::vector<std::uint32_t> rows;
  for (std::uint32_t r = 0; r < partitions_.size(); ++r) rows.push_back(r);
  return rows;
}

}  // namespace ambrel
