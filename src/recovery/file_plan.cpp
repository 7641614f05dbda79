#include "recovery/file_plan.h"

#include <algorithm>
#include <cstdint>

#include "fs/cluster_map.h"
#include "fs/exfat/exfat_reader.h"
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

bool HasClusterMap(const PartitionInfo& p) {
  return p.fsKind == kFsNtfs || p.fsKind == kFsFat16 || p.fsKind == kFsFat32 || p.fsKind == kFsExfat;
}

// Keeps the first `bytes` of the extents (whole sectors).
void CutExtents(ExtentList& extents, std::uint64_t bytes) {
  std::uint64_t sectors = (bytes + kSector - 1) / kSector;
  std::size_t kept = 0;
  for (; kept < extents.size() && sectors > 0; ++kept) {
    DataExtent& e = extents[kept];
    if (e.sectorCount >= sectors) {
      if (e.sectorCount > sectors) e.clusterCount = 0;
      e.sectorCount = sectors;
      ++kept;
      break;
    }
    sectors -= e.sectorCount;
  }
  extents.resize(kept);
}

// A deleted file: which of its clusters the allocation map gives to
// something else now, or a live file's run list or chain (or the file
// system's own metadata files) holds. Its data ends before the first of
// them; the holder of the first one held is named.
void AssessDeleted(const PartitionInfo& partition, FilePlan& plan, std::uint64_t& cutAt) {
  auto use = ClusterUse::Of(partition);
  const ClusterOwners* owners = partition.clusterOwners.get();
  auto grid = ClusterGridOf(partition);
  if ((!use && !owners) || !grid) return;
  const ClusterTally t = CountTaken(*grid, use ? &*use : nullptr, owners, plan.extents, plan.size);
  plan.clusters = t.clusters;
  plan.takenClusters = t.taken;
  if (t.taken == 0) {
    plan.overwrite = OverwriteState::kIntact;
    return;
  }
  plan.overwrite = t.taken >= t.clusters ? OverwriteState::kOverwritten : OverwriteState::kPartlyOverwritten;
  plan.damage = t.taken >= t.clusters ? DataDamage::kOverwritten : DataDamage::kPartlyOverwritten;
  cutAt = std::min(cutAt, t.firstTakenByte);
  std::uint64_t byte = 0;
  const ClusterOwners::Owner* owner = nullptr;
  if (owners && FirstOwnedByte(*owners, *grid, plan.extents, plan.size, nullptr, 0, byte, owner))
    plan.overwrittenBy = OwnerPath(partition, *owner);
}

// A file of an older volume rebuilt by the deep scan, under a volume
// formatted over it: the sectors the new volume took hold its bytes no
// longer. Its data ends before the first of them.
void AssessOverlaid(const PartitionInfo& partition, FilePlan& plan, std::uint64_t& cutAt) {
  ClusterTally t;
  for (const auto& volume : partition.overlaidBy) {
    const ClusterTally one = volume->Count(plan.extents, plan.size);
    t.clusters += one.clusters;
    t.taken += one.taken;
    t.firstTakenByte = std::min(t.firstTakenByte, one.firstTakenByte);
  }
  if (t.taken == 0) return;
  plan.clusters = t.clusters;
  plan.takenClusters = t.taken;
  plan.overwrite = t.taken >= t.clusters ? OverwriteState::kOverwritten : OverwriteState::kPartlyOverwritten;
  plan.damage = t.taken >= t.clusters ? DataDamage::kOverwritten : DataDamage::kPartlyOverwritten;
  cutAt = std::min(cutAt, t.firstTakenByte);
}

// A deleted FAT or exFAT file's clusters are assumed contiguous; the run
// cannot hold the first cluster of another entry of the volume (one of the
// two was written over the other), so the data ends before it. This also
// keeps an absurd size from reading the rest of the volume.
void BoundContiguous(const FoundFileNode& node, const PartitionInfo& partition, FilePlan& plan,
                     std::uint64_t& cutAt) {
  if (!partition.clusterOwners || plan.extents.empty()) return;
  auto grid = ClusterGridOf(partition);
  if (!grid) return;
  const std::uint64_t first = node.firstCluster;
  const std::uint64_t clusterBytes = std::uint64_t(grid->spc) * kSector;
  const std::uint64_t clusters = (plan.size + clusterBytes - 1) / clusterBytes;
  const std::uint64_t other = partition.clusterOwners->StartBetween(first, first + clusters);
  if (other == 0) return;
  const std::uint64_t at = (other - first) * clusterBytes;
  if (at >= cutAt) return;
  cutAt = at;
  if (plan.damage == DataDamage::kNone) plan.damage = DataDamage::kRunsIntoOtherFile;
}

// A live file: where its extents first reach a cluster that another live
// file (a consistent FAT chain, an NTFS run list) or the file system's
// metadata holds. A followed chain or a run list is then cross-linked; an
// assumed contiguous run just ends there.
void AssessLive(const FoundFileNode& node, const PartitionInfo& partition, bool chained, FilePlan& plan,
                std::uint64_t& cutAt) {
  if (!partition.clusterOwners) return;
  auto grid = ClusterGridOf(partition);
  if (!grid) return;
  std::uint64_t byte = 0;
  const ClusterOwners::Owner* owner = nullptr;
  if (!FirstOwnedByte(*partition.clusterOwners, *grid, plan.extents, plan.size, &node,
                      OwnerFirstCluster(node, partition, plan.extents), byte, owner))
    return;
  cutAt = std::min(cutAt, byte);
  if (!chained) return;
  plan.damage = DataDamage::kCrossLinked;
  plan.crossLinkedWith = OwnerPath(partition, *owner);
  // A view that left the owner out (the deleted files' view).
  if (plan.crossLinkedWith.empty()) plan.crossLinkedWith = "another live file";
}

}  // namespace

const char* DamageText(DataDamage damage) {
  switch (damage) {
    case DataDamage::kNone: return "";
    case DataDamage::kNoData: return "no data location";
    case DataDamage::kChainShort: return "chain ends early: cluster chain shorter than the size";
    case DataDamage::kChainLoop: return "cluster chain loops";
    case DataDamage::kCrossLinked: return "cross-linked";
    case DataDamage::kOverwritten: return "overwritten";
    case DataDamage::kPartlyOverwritten: return "partly overwritten";
    case DataDamage::kNotValidData: return "never written past the valid data length";
    case DataDamage::kRunsIntoOtherFile: return "chain ends early: its clusters run into another file's";
    case DataDamage::kOutsideDevice: return "data outside the device";
    case DataDamage::kRecordDamaged: return "damaged MFT record";
    case DataDamage::kRecordTorn: return "torn MFT record";
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
  if (marks & kNtfsRecordTorn) {
    plan.damage = DataDamage::kRecordTorn;
    return plan;
  }
  if (marks & kNtfsDataDamaged) {
    plan.damage = DataDamage::kRecordDamaged;
    return plan;
  }
  if (plan.size == 0) return plan;
  ChainEnd chainEnd = ChainEnd::kCovered;
  if (!BuildExtents(node, partition, plan.extents, &chainEnd)) {
    plan.damage = DataDamage::kNoData;
    return plan;
  }
  if (node.flags & kFlagResident) {
    plan.resident = true;
    plan.recordBytes = MftRecordBytes(partition);
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
  // Where the file's own data ends: before a cluster that now belongs to
  // something else.
  std::uint64_t cutAt = UINT64_MAX;
  const bool fileOfVolume = HasClusterMap(partition) && !(node.flags & kFlagVideoRebuilt);
  if (fileOfVolume && KindOf(node) == kDeletedFile) {
    AssessDeleted(partition, plan, cutAt);
    if (!IsNtfs(partition)) BoundContiguous(node, partition, plan, cutAt);
  }
  if (fileOfVolume && KindOf(node) == kPresentFile)
    AssessLive(node, partition, IsNtfs(partition) || WalksFatChain(node, partition), plan, cutAt);
  if (!partition.overlaidBy.empty() && !(node.flags & kFlagVideoRebuilt) && plan.overwrite == OverwriteState::kUnknown)
    AssessOverlaid(partition, plan, cutAt);
  if (cutAt != UINT64_MAX) CutExtents(plan.extents, cutAt);
  bool outside = false;
  std::uint64_t covered = ClipToDevice(plan.extents, firstLba, lastLba, outside);
  covered = std::min(covered, cutAt);
  // A compressed file's units are whole or lost: only whole units count.
  if (plan.unitBytes != 0) covered = covered / plan.unitBytes * plan.unitBytes;
  plan.readable = std::min(plan.size, covered);
  if (plan.damage != DataDamage::kNone) return plan;
  if (outside && plan.readable < plan.size) plan.damage = DataDamage::kOutsideDevice;
  else if (plan.readable < plan.size && chainEnd == ChainEnd::kLoop) plan.damage = DataDamage::kChainLoop;
  else if (plan.readable < plan.size) plan.damage = DataDamage::kChainShort;
  std::uint64_t valid = 0;
  if (plan.damage == DataDamage::kNone && partition.fsKind == kFsExfat && ExfatValidShort(node, valid)) {
    // Written whole (the allocation), yet the bytes after ValidDataLength
    // were never marked valid: partial, not whole.
    plan.validLength = valid;
    plan.damage = DataDamage::kNotValidData;
  }
  return plan;
}

}  // namespace ambrel
