#include "recovery/file_plan.h"

#include <algorithm>

#include "fs/ntfs/ntfs_file_data.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_record.h"
#include "recovery/save_item.h"

namespace ambrel {

namespace {

constexpr std::uint64_t kSector = 512;

// Keeps the extents (in order) while they lie on the device; returns the
// bytes they cover and whether one had to be dropped or cut.
std::uint64_t ClipToDevice(ExtentList& extents, std::uint64_t firstLba, std::uint64_t lastLba, bool& outside) {
  outside = false;
  std::uint64_t covered = 0;
  std::size_t kept = 0;
  for (; kept < extents.size(); ++kept) {
    DataExtent& e = extents[kept];
    if (!e.sparse) {
      if (e.startSector < firstLba || e.startSector > lastLba) {
        outside = true;
        break;
      }
      const std::uint64_t room = lastLba - e.startSector + 1;
      if (e.sectorCount > room) {
        e.sectorCount = room;
        e.clusterCount = 0;
        outside = true;
        covered += e.sectorCount * kSector;
        ++kept;
        break;
      }
    }
    // Sector counts come from 32-bit run lengths times the cluster size, so
    // the sum stays far below 2^64.
    covered += e.sectorCount * kSector;
  }
  extents.resize(kept);
  return covered;
}

bool IsNtfs(const PartitionInfo& p) { return p.fsKind == kFsNtfs; }

}  // namespace

const char* DamageText(DataDamage damage) {
  switch (damage) {
    case DataDamage::kNone: return "";
    case DataDamage::kNoData: return "no data location";
    case DataDamage::kChainShort: return "cluster chain shorter than the size";
    case DataDamage::kOutsideDevice: return "data outside the device";
    case DataDamage::kRecordDamaged: return "damaged MFT record";
    case DataDamage::kEncrypted: return "encrypted (EFS)";
    case DataDamage::kBadCompression: return "undecodable compression";
  }
  return "";
}

FilePlan PlanFileData(const FoundFileNode& node, const PartitionInfo& partition, std::uint64_t firstLba,
                      std::uint64_t lastLba) {
  FilePlan plan;
  plan.size = node.size;
  const std::uint32_t marks = IsNtfs(partition) && !(node.flags & kFlagVideoRebuilt) ? node.extraCount : 0;
  if (marks & kNtfsDataEncrypted) {
    plan.damage = DataDamage::kEncrypted;
    return plan;
  }
  if (marks & kNtfsDataDamaged) {
    plan.damage = DataDamage::kRecordDamaged;
    return plan;
  }
  if (plan.size == 0) return plan;
  if (!BuildExtents(node, partition, plan.extents)) {
    plan.damage = DataDamage::kNoData;
    return plan;
  }
  if (node.flags & kFlagResident) {
    plan.resident = true;
    plan.readable = plan.size;
    return plan;
  }
  if (marks & kNtfsDataCompressed) {
    plan.spc = SectorsPerCluster(partition);
    plan.unitBytes = CompressionUnitBytes(node, plan.spc);
    if (plan.unitBytes == 0) {
      plan.damage = DataDamage::kBadCompression;
      plan.extents.clear();
      return plan;
    }
  }
  bool outside = false;
  std::uint64_t covered = ClipToDevice(plan.extents, firstLba, lastLba, outside);
  // A compressed file's units are whole or lost: only whole units count.
  if (plan.unitBytes != 0) covered = covered / plan.unitBytes * plan.unitBytes;
  plan.readable = std::min(plan.size, covered);
  if (outside && plan.readable < plan.size) plan.damage = DataDamage::kOutsideDevice;
  else if (plan.readable < plan.size) plan.damage = DataDamage::kChainShort;
  return plan;
}

}  // namespace ambrel
