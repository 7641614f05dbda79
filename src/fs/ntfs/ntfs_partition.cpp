#include "fs/ntfs/ntfs_partition.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "app/progress.h"
#include "app/settings.h"
#include "catalog/node_reserve.h"
#include "catalog/node_table.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_known_extents.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_record_node.h"
#include "fs/ntfs/ntfs_run_list.h"
#include "fs/ntfs/ntfs_volume.h"

namespace ambrel {

namespace {

bool StopRequested(const std::atomic<std::uint32_t>* stopWord) {
  return stopWord && stopWord->load(std::memory_order_relaxed) == 2;
}

void CountNode(ScanProgress& progress, const FoundFileNode& node) {
  switch (KindOf(node)) {
    case kPresentFile:
      ++progress.u.parse.presentFiles;
      break;
    case kPresentFolder:
      ++progress.u.parse.presentDirs;
      break;
    case kDeletedFile:
      ++progress.u.parse.deletedFiles;
      break;
    case kDeletedFolder:
      ++progress.u.parse.deletedDirs;
      break;
  }
}

// A directory's dataSector points at its index allocation.
void PointDirectoryAtIndex(FoundFileNode& node, const PartitionInfo& partition) {
  if (!IsFolderKind(KindOf(node)) || !node.extra) return;
  ExtentList extents;
  const ByteSpan runList(static_cast<const std::uint8_t*>(node.extra), node.firstCluster);
  if (ResolveExtents(partition, DecodeRunList(runList), extents))
    node.dataSector = extents[0].startSector;
}

// Record numbers of the system files: the reserved records 0 to 15 (but the
// root, 5) and every "$" record marked as a system file ($Extend's children
// such as $RmMetadata and $Txf).
using SystemRecords = std::unordered_set<std::uint32_t>;

bool IsSystemRecord(const SystemRecords& system, std::uint32_t number) {
  return (number < kFirstUserRecord && number != kRootRecord) || system.count(number) != 0;
}

void NoteSystemRecord(ByteSpan record, SystemRecords& system) {
  auto kept = DecodeMftRecord(record, true);
  if (kept && kept->hasName && !kept->name.empty() && kept->name[0] == '$')
    system.insert(kept->recordNumber);
}

// Files below a system record are system files too ($TxfLog.blf under
// $Extend\$RmMetadata\$Txf): they are not listed, nor moved to the
// lost-files folder when their system parent is left out.
void DropSystemDescendants(FoundFileTable& table, const SystemRecords& system) {
  // record -> lies below a system record: 0 not known yet, 1 no, 2 yes (a
  // flat array: a hash map of every record took a tenth of a listing).
  std::vector<std::uint8_t> below(table.count, 0);
  auto isBelow = [&](auto& self, std::uint32_t id, int depth) -> bool {
    const FoundFileNode* node = NodeAt(table, id);
    if (!node || id == kRootRecord || depth > 64) return false;
    if (id < below.size() && below[id] != 0) return below[id] == 2;
    const std::uint32_t parent = node->parentId;
    const bool result =
        parent != id && (IsSystemRecord(system, parent) || self(self, parent, depth + 1));
    if (id < below.size()) below[id] = result ? 2 : 1;
    return result;
  };
  std::vector<std::uint32_t> drop;
  for (std::uint32_t id = kFirstUserRecord; id < table.count; ++id)
    if (isBelow(isBelow, id, 0)) drop.push_back(id);
  for (std::uint32_t id : drop) RemoveNode(table, id);
}

void AddRecord(PartitionInfo& partition, ByteSpan record, std::uint64_t lba, bool torn,
               ScanProgress& progress, SystemRecords& system, KnownExtents* known) {
  auto summary = DecodeMftRecord(record, false);
  if (!summary && !torn) NoteSystemRecord(record, system);
  // Extension records and records without a name are not listed.
  if (!summary || !summary->hasName || summary->recordNumber == 0) return;
  // A record whose update sequence failed is listed for what it names, but
  // its data is never taken from it.
  if (torn) summary->dataMarks |= kNtfsRecordTorn;
  FoundFileNode node{};
  FillNodeFromSummary(node, partition, *summary, known);
  if (node.flags & kFlagResident) node.dataSector = lba;
  PointDirectoryAtIndex(node, partition);
  if (AddNodeNamed(partition.table, node, summary->name, false) == 0) return;
  CountNode(progress, node);
  PublishProgress(progress);
}

// The MFT could not be placed: when its first record (and the mirror's)
// cannot be read, that is what the listing lacks.
void NoteUnreadableMftStart(DiskHandle& handle, PartitionInfo& partition) {
  const std::uint32_t sectors = MftRecordSectors(partition.bootSector);
  if (sectors == 0) return;
  std::vector<std::uint8_t> record(std::size_t{sectors} * 512);
  for (bool mirror : {false, true}) {
    std::uint64_t lba = 0;
    if (!MftStartLba(partition.bootSector, partition.startLba, mirror, lba)) return;
    if (ReadSectors(handle, lba, sectors, record.data())) return;
  }
  std::uint64_t lba = 0;
  MftStartLba(partition.bootSector, partition.startLba, false, lba);
  NoteUnreadMetadata(partition, {UnreadMetadataKind::kMftRecords, 0, 1, lba, {}});
}

}  // namespace

bool WalkMft(DiskHandle& handle, PartitionInfo& partition,
             const std::atomic<std::uint32_t>* stopWord, const ExtentList& mftExtents, KnownExtents* known) {
  const std::uint32_t spc = SectorsPerCluster(partition);
  const std::uint32_t recordBytes = MftRecordBytes(partition);
  const std::uint32_t recordSectors = recordBytes / 512;
  if (spc == 0 || recordSectors == 0) return false;
  std::uint64_t expected = 0;
  for (const DataExtent& extent : mftExtents)
    if (!extent.sparse) expected += extent.clusterCount * std::uint64_t{spc} / recordSectors;
  ReserveNodes(partition.table,
               static_cast<std::uint32_t>(std::min<std::uint64_t>(expected, kMaxWalkedRecords)));
  ScanProgress progress;
  progress.stage = kStageParse;
  SystemRecords system;
  std::vector<std::uint8_t> buffer(std::size_t{kBulkReadSectors} * 512);
  std::uint64_t recordsLeft = kMaxWalkedRecords;
  for (const DataExtent& extent : mftExtents) {
    if (StopRequested(stopWord)) return false;
    if (extent.sparse) continue;
    const std::uint64_t sectors =
        std::min<std::uint64_t>(extent.clusterCount * std::uint64_t{spc}, recordsLeft * recordSectors);
    for (std::uint64_t at = 0; at + recordSectors <= sectors; at += kBulkReadSectors) {
      if (StopRequested(stopWord)) return false;
      const std::uint32_t chunk =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors - at, kBulkReadSectors));
      const std::uint32_t records = chunk / recordSectors;
      const std::uint64_t firstRecord = kMaxWalkedRecords - recordsLeft;
      // A failed read is retried in smaller pieces down to single sectors:
      // an unreadable sector costs only the record it lies in.
      std::vector<std::uint32_t> bad;
      ReadSectorsSalvaging(handle, extent.startSector + at, records * recordSectors, buffer.data(), &bad);
      std::size_t nextBad = 0;
      for (std::uint32_t i = 0; i < records; ++i) {
        const std::uint64_t lba = extent.startSector + at + std::uint64_t{recordSectors} * i;
        bool unreadable = false;
        while (nextBad < bad.size() && bad[nextBad] < (i + 1) * recordSectors) {
          if (!unreadable) NoteUnreadMetadata(partition, {UnreadMetadataKind::kMftRecords, firstRecord + i, 1,
                                                          extent.startSector + at + bad[nextBad], {}});
          unreadable = true;
          ++nextBad;
        }
        const std::span<std::uint8_t> record(buffer.data() + std::size_t{i} * recordBytes, recordBytes);
        if (unreadable) continue;
        const bool inUse = ByteCursor(record).Matches(0, "FILE");
        const bool torn = ApplyRecordFixups(record) != RecordFixup::kApplied && inUse;
        if (torn)
          NoteUnreadMetadata(partition, {UnreadMetadataKind::kTornMftRecord, firstRecord + i, 1, lba, {}});
        AddRecord(partition, ByteSpan(record.data(), record.size()), lba, torn, progress, system, known);
      }
      recordsLeft -= records;
    }
    if (recordsLeft == 0) break;
  }
  DropSystemDescendants(partition.table, system);
  return true;
}

bool ReadNtfsPartition(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                       ParseContext* context) {
  KnownExtents* known = context ? &context->known : nullptr;
  if (!SettingOn("ParseFileSys")) return false;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return false;
  ExtentList mftExtents;
  bool result = false;
  const bool placed = LoadMftExtents(handle, partition, mftExtents);
  if (!placed) NoteUnreadableMftStart(handle, partition);
  if (placed &&
      WalkMft(handle, partition, stopWord, mftExtents, known) && partition.table.count != 0) {
    ExtentList mirrorExtents;
    if (known) {
      known->RegisterMft(mftExtents);
      if (LoadMftMirrorExtents(handle, partition, mirrorExtents)) known->RegisterMft(mirrorExtents);
    }
    if (!StopRequested(stopWord)) {
      InitTable(partition.table);
      LinkAll(partition.table);
      Compact(partition.table);
      result = true;
    }
  }
  handle.Close();
  return result;
}

}  // namespace ambrel
