#include "fs/ntfs/ntfs_partition.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/progress.h"
#include "app/settings.h"
#include "catalog/node_reserve.h"
#include "catalog/node_table.h"
#include "device/read_ahead.h"
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

// A record the listing refuses (no name, no data) that names a "$" file:
// its number, for the system records.
std::optional<std::uint32_t> SystemRecordNumber(ByteSpan record) {
  auto kept = DecodeMftRecord(record, true);
  if (kept && kept->hasName && !kept->name.empty() && kept->name[0] == '$') return kept->recordNumber;
  return std::nullopt;
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

// The clusters of a live node's attributes beyond its run list, for the
// owner map.
void NoteAttributeRuns(const PartitionInfo& partition, const std::vector<NtfsAttributePiece>& pieces,
                       const char* nodeName, std::vector<NtfsAttributeRun>& out) {
  const std::uint32_t spc = SectorsPerCluster(partition);
  if (spc == 0) return;
  ExtentList extents;
  for (const NtfsAttributePiece& piece : pieces) {
    if (!ResolveExtents(partition, piece.runs, extents)) continue;
    for (const DataExtent& e : extents)
      if (!e.sparse && e.clusterCount != 0 && e.startSector >= partition.startLba)
        out.push_back({(e.startSector - partition.startLba) / spc, static_cast<std::uint32_t>(e.clusterCount),
                       nodeName});
  }
}

void ListRecord(PartitionInfo& partition, MftRecordSummary& summary, std::uint64_t lba, bool torn,
                ScanProgress& progress, KnownExtents* known, std::vector<NtfsAttributeRun>* attributeRuns) {
  // A record whose update sequence failed is listed for what it names, but
  // its data is never taken from it.
  if (torn) summary.dataMarks |= kNtfsRecordTorn;
  FoundFileNode node{};
  FillNodeFromSummary(node, partition, summary, known);
  if (node.flags & kFlagResident) node.dataSector = lba;
  PointDirectoryAtIndex(node, partition);
  const std::uint32_t id = AddNodeNamed(partition.table, node, summary.name, false);
  if (id == 0) return;
  const NodeKind kind = KindOf(node);
  if (attributeRuns && !torn && (kind == kPresentFile || kind == kPresentFolder) && !summary.pieces.empty())
    NoteAttributeRuns(partition, summary.pieces, NodeAt(partition.table, id)->name, *attributeRuns);
  CountNode(progress, node);
  PublishProgress(progress);
}

// A file whose attributes an attribute list spread over its base record and
// extension records (a fragmented file whose run list outgrew one record,
// a name moved out): listed once the walk has met every record.
struct SpreadRecord {
  MftRecordSummary summary;
  std::uint64_t lba = 0;
  bool torn = false;
};
struct SpreadFiles {
  std::unordered_map<std::uint32_t, SpreadRecord> bases;
  std::unordered_map<std::uint32_t, std::vector<SpreadRecord>> extensions;  // by base record
};

// One MFT record as the walk decoded it.
struct DecodedRecord {
  bool unreadable = false;
  bool torn = false;  // in use, and its update sequence failed
  std::optional<MftRecordSummary> summary;
  std::optional<std::uint32_t> systemRecord;
  bool decoded = false;
};

void AddRecord(PartitionInfo& partition, DecodedRecord& decoded, std::uint64_t lba, ScanProgress& progress,
               SystemRecords& system, KnownExtents* known, SpreadFiles& spread,
               std::vector<NtfsAttributeRun>* attributeRuns) {
  auto& summary = decoded.summary;
  const bool torn = decoded.torn;
  if (decoded.systemRecord) system.insert(*decoded.systemRecord);
  if (!summary || summary->recordNumber == 0) return;
  if (summary->baseRecord != 0) {
    // Nothing of a torn extension record is trusted: the pieces it held
    // leave a gap in the file's data.
    if (!torn) spread.extensions[summary->baseRecord].push_back({std::move(*summary), lba, torn});
    return;
  }
  if (summary->attributeList) {
    const std::uint32_t number = summary->recordNumber;
    spread.bases[number] = {std::move(*summary), lba, torn};
    return;
  }
  if (!summary->hasName) return;
  ListRecord(partition, *summary, lba, torn, progress, known, attributeRuns);
}

// Joins each spread file's extension records to its base record: the name
// when the base lacks it, the first $DATA piece, the later pieces and the
// other attributes' clusters.
void ListSpreadFiles(PartitionInfo& partition, SpreadFiles& spread, ScanProgress& progress, KnownExtents* known,
                     std::vector<NtfsAttributeRun>* attributeRuns) {
  std::vector<std::uint32_t> numbers;
  numbers.reserve(spread.bases.size());
  for (const auto& entry : spread.bases) numbers.push_back(entry.first);
  std::sort(numbers.begin(), numbers.end());
  for (std::uint32_t number : numbers) {
    SpreadRecord& base = spread.bases[number];
    MftRecordSummary& s = base.summary;
    std::uint64_t dataLba = base.lba;
    const bool inUse = (s.nodeFlags & kFlagPresent) != 0;
    auto found = spread.extensions.find(number);
    if (found != spread.extensions.end()) {
      for (SpreadRecord& extension : found->second) {
        MftRecordSummary& e = extension.summary;
        // A record freed with its file and used since by another one names
        // another base; one left in the other state is not this file's now.
        if (((e.nodeFlags & kFlagPresent) != 0) != inUse) continue;
        if (!s.hasName && e.hasName) {
          s.hasName = true;
          s.name = std::move(e.name);
          s.parentId = e.parentId;
        }
        const bool baseHasData = !s.runList.empty() || (s.nodeFlags & kFlagResident);
        if (!baseHasData && (!e.runList.empty() || (e.nodeFlags & kFlagResident))) {
          s.runList = std::move(e.runList);
          s.size = e.size;
          s.dataMarks |= e.dataMarks;
          s.nodeFlags |= e.nodeFlags & kFlagResident;
          dataLba = extension.lba;
        }
        for (auto& runs : e.indexRuns) s.indexRuns.push_back(std::move(runs));
        for (auto& piece : e.pieces) s.pieces.push_back(std::move(piece));
      }
    }
    JoinDataPieces(s);
    if (!s.hasName) continue;
    ListRecord(partition, s, dataLba, base.torn, progress, known, attributeRuns);
  }
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

namespace {
constexpr std::uint32_t kMftReadSectors = 2048;
}  // namespace

bool WalkMft(DiskHandle& handle, PartitionInfo& partition,
             const std::atomic<std::uint32_t>* stopWord, const ExtentList& mftExtents, KnownExtents* known,
             std::vector<NtfsAttributeRun>* attributeRuns) {
  const std::uint32_t spc = SectorsPerCluster(partition);
  const std::uint32_t recordBytes = MftRecordBytes(partition);
  const std::uint32_t recordSectors = recordBytes / 512;
  if (spc == 0 || recordSectors == 0) return false;
  std::uint64_t expected = 0;
  for (const DataExtent& extent : mftExtents)
    if (!extent.sparse) expected += extent.clusterCount * std::uint64_t{spc} / recordSectors;
  ReserveNodes(partition.table,
               static_cast<std::uint32_t>(std::min<std::uint64_t>(expected, kMaxWalkedRecords)));
  if (attributeRuns) attributeRuns->clear();
  ScanProgress progress;
  progress.stage = kStageParse;
  SystemRecords system;
  SpreadFiles spread;
  // The reads, planned first: each is made while the one before it is
  // decoded. 1 MiB each: two buffers of that touch less fresh memory than one
  // of 4 MiB, and the reads are as fast.
  struct Planned {
    std::uint64_t firstRecord = 0;
    std::uint32_t records = 0;
  };
  std::vector<SectorReadAhead::Range> ranges;
  std::vector<Planned> planned;
  std::uint64_t recordsLeft = kMaxWalkedRecords;
  for (const DataExtent& extent : mftExtents) {
    if (extent.sparse) continue;
    const std::uint64_t sectors =
        std::min<std::uint64_t>(extent.clusterCount * std::uint64_t{spc}, recordsLeft * recordSectors);
    const std::uint32_t step = std::max(kMftReadSectors / recordSectors, 1u) * recordSectors;
    for (std::uint64_t at = 0; at + recordSectors <= sectors; at += step) {
      const std::uint32_t chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors - at, step));
      const std::uint32_t records = chunk / recordSectors;
      planned.push_back({kMaxWalkedRecords - recordsLeft, records});
      ranges.push_back({extent.startSector + at, records * recordSectors});
      recordsLeft -= records;
    }
    if (recordsLeft == 0) break;
  }
  // Each range's records are checked and decoded where they are read, on
  // the reader thread (decoding only reads the record's bytes), except the
  // range's second half: reading and decoding all of it took the reader
  // longer than filling the table took here, so this thread decodes that
  // half itself. The table is filled here, in record order.
  std::vector<DecodedRecord> decoded[2];
  auto decodeOne = [&](DecodedRecord& d, std::span<std::uint8_t> record) {
    const bool inUse = ByteCursor(record).Matches(0, "FILE");
    d.torn = ApplyRecordFixups(record) != RecordFixup::kApplied && inUse;
    const ByteSpan bytes(record.data(), record.size());
    d.summary = DecodeMftRecord(bytes, false);
    if (!d.summary && !d.torn) d.systemRecord = SystemRecordNumber(bytes);
    d.decoded = true;
  };
  auto recordAt = [&](const SectorReadAhead::Filled& filled, std::uint32_t i) {
    return std::span<std::uint8_t>(filled.bytes.data() + std::size_t{i} * recordBytes, recordBytes);
  };
  auto decode = [&](std::size_t chunk, const SectorReadAhead::Filled& filled) {
    std::vector<DecodedRecord>& out = decoded[chunk % 2];
    out.clear();
    out.resize(planned[chunk].records);
    const std::vector<std::uint32_t>& bad = *filled.bad;
    std::size_t nextBad = 0;
    const std::uint32_t half = planned[chunk].records / 2;
    for (std::uint32_t i = 0; i < planned[chunk].records; ++i) {
      DecodedRecord& d = out[i];
      while (nextBad < bad.size() && bad[nextBad] < (i + 1) * recordSectors) {
        d.unreadable = true;
        ++nextBad;
      }
      if (!d.unreadable && i < half) decodeOne(d, recordAt(filled, i));
    }
  };
  SectorReadAhead reads(handle, ranges, decode);
  for (std::size_t chunk = 0; chunk < ranges.size(); ++chunk) {
    if (StopRequested(stopWord)) return false;
    // A failed read is retried in smaller pieces down to single sectors:
    // an unreadable sector costs only the record it lies in.
    SectorReadAhead::Filled filled;
    if (!reads.Next(filled)) return false;
    const std::vector<std::uint32_t>& bad = *filled.bad;
    std::vector<DecodedRecord>& records = decoded[chunk % 2];
    const std::uint64_t firstLba = ranges[chunk].lba;
    const std::uint64_t firstRecord = planned[chunk].firstRecord;
    std::size_t nextBad = 0;
    for (std::uint32_t i = 0; i < planned[chunk].records; ++i) {
      const std::uint64_t lba = firstLba + std::uint64_t{recordSectors} * i;
      if (records[i].unreadable) {
        // Named once, at its first unreadable sector.
        while (nextBad < bad.size() && bad[nextBad] < i * recordSectors) ++nextBad;
        NoteUnreadMetadata(partition,
                           {UnreadMetadataKind::kMftRecords, firstRecord + i, 1, firstLba + bad[nextBad], {}});
        continue;
      }
      if (!records[i].decoded) decodeOne(records[i], recordAt(filled, i));
      if (records[i].torn)
        NoteUnreadMetadata(partition, {UnreadMetadataKind::kTornMftRecord, firstRecord + i, 1, lba, {}});
      AddRecord(partition, records[i], lba, progress, system, known, spread, attributeRuns);
    }
  }
  ListSpreadFiles(partition, spread, progress, known, attributeRuns);
  DropSystemDescendants(partition.table, system);
  return true;
}

bool ReadNtfsPartition(const std::atomic<std::uint32_t>* stopWord, PartitionInfo& partition,
                       ParseContext* context, std::vector<NtfsAttributeRun>* attributeRuns) {
  KnownExtents* known = context ? &context->known : nullptr;
  if (!SettingOn("ParseFileSys")) return false;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return false;
  ExtentList mftExtents;
  bool result = false;
  const bool placed = LoadMftExtents(handle, partition, mftExtents);
  if (!placed) NoteUnreadableMftStart(handle, partition);
  if (placed &&
      WalkMft(handle, partition, stopWord, mftExtents, known, attributeRuns) && partition.table.count != 0) {
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
