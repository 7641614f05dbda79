#include "catalog/folder_names.h"
#include "deepscan/found_files.h"

#include <algorithm>
#include <cinttypes>
#include <utility>

#include "catalog/file_types.h"
#include "catalog/type_folder.h"
#include "common/text.h"
#include "diag/log.h"
#include "recovery/save_item.h"

namespace ambrel {
namespace {

constexpr const char* kFoundFilesLabel = kFoundFilesFolderName;
constexpr std::uint32_t kFirstFreeId = 237;  // ids 0..236: the category and type folders
constexpr std::uint64_t kMinDuplicateNodes = 12;
constexpr std::uint64_t kMaxDuplicateNodes = 0x800000;
constexpr std::size_t kMaxFolderNameLength = 64;
constexpr std::uint8_t kPlainTextKind = 161;
constexpr std::uint8_t kBitmapKind = 48;
constexpr std::uint8_t kWaveKind = 53;

std::uint64_t EndSector(const ScanHit& hit) { return hit.lba + (hit.Size() + 511) / 512; }

void SetSize(ScanHit& hit, std::uint64_t size) {
  hit.aux1 = static_cast<std::uint32_t>(size);
  hit.aux2 = static_cast<std::uint32_t>(size >> 32);
}

// Formats whose size is a number in their first sector, checked against
// nothing after it (BMP, WAVE): the first sectors of a file cut short
// claim as much as the whole file, and the raw pixels or samples they
// stand for never hold a file of the same kind.
bool SizedByHeaderAlone(std::uint8_t kind) { return kind == kBitmapKind || kind == kWaveKind; }

// Later hits of the same kind whose whole extent lies in a file of known
// size are copies inside it (a thumbnail in a JPEG, a zip in a zip); so is
// plain text found inside any file of known size (the text of a document).
void AbsorbNestedCopies(std::vector<ScanHit*>& hits) {
  for (std::size_t i = 0; i < hits.size(); ++i) {
    const ScanHit& outer = *hits[i];
    if (!IsSignatureKind(outer.kind) || !HasRuleSize(outer)) continue;
    const bool sameKindAbsorbed = !SizedByHeaderAlone(outer.kind);
    const std::uint64_t end = EndSector(outer);
    for (std::size_t j = i + 1; j < hits.size() && hits[j]->lba < end; ++j) {
      ScanHit& inner = *hits[j];
      if (((inner.kind == outer.kind && sameKindAbsorbed) || inner.kind == kPlainTextKind) && HasRuleSize(inner) &&
          inner.lba >= outer.lba && EndSector(inner) <= end)
        inner.status = kStatusAbsorbed;
    }
  }
}

// Carved copies of files the partitions already list (same first sector
// and type) are dropped.
void DropDuplicatesOfFound(std::vector<ScanHit*>& hits,
                           const std::vector<std::unique_ptr<PartitionInfo>>& found) {
  std::uint64_t total = 0;
  for (const auto& part : found)
    if (part) total += part->table.count;
  if (total < kMinDuplicateNodes || total > kMaxDuplicateNodes) return;
  std::vector<std::pair<std::uint64_t, std::uint8_t>> starts;
  starts.reserve(total);
  for (const auto& part : found) {
    if (!part) continue;
    const FoundFileTable& t = part->table;
    for (std::uint32_t id = 0; id < t.count; ++id) {
      const FoundFileNode* n = NodeAt(t, id);
      // The node is packed: its fields are copied out, never bound by reference.
      if (n && IsFileKind(KindOf(*n))) starts.emplace_back(std::uint64_t{n->dataSector}, std::uint8_t{n->typeCode});
    }
  }
  std::sort(starts.begin(), starts.end());
  for (ScanHit* hit : hits) {
    if (!IsSignatureKind(hit->kind) || hit->status == kStatusAbsorbed) continue;
    if (std::binary_search(starts.begin(), starts.end(), std::make_pair(hit->lba, hit->kind)))
      hit->status = kStatusAbsorbed;
  }
}

bool HoldsPresentEntry(const FoundFileTable& table, const FoundFileNode& folder) {
  for (std::uint32_t i = 0; i < folder.childCount; ++i) {
    const FoundFileNode* child = NodeAt(table, folder.childIds[i]);
    if (child && (KindOf(*child) == kPresentFile || KindOf(*child) == kPresentFolder)) return true;
  }
  return false;
}

// Empty type folders go; a folder of deleted entries only is shown as deleted.
void FinishTypeFolders(FoundFileTable& table) {
  for (std::uint32_t code = kFirstTypeCode; code <= kLastTypeCode; ++code) {
    FoundFileNode* folder = NodeAt(table, code);
    if (!folder || !IsFolderKind(KindOf(*folder))) continue;
    if (folder->childCount == 0) {
      RemoveNode(table, code);
      continue;
    }
    if (std::char_traits<char>::length(folder->name) > kMaxFolderNameLength)
      LogLine(LogCode::kNotice, Format("File name len: %u", static_cast<unsigned>(std::char_traits<char>::length(folder->name))) +
                     folder->name);
    if (!HoldsPresentEntry(table, *folder)) SetKind(*folder, kDeletedFolder);
  }
}

}  // namespace

bool EndsGap(std::uint32_t kind) { return kind <= kHitLastTypeCode || kind > 220; }

std::string CarvedFileName(std::uint64_t lba, std::uint32_t type) {
  const FileTypeEntry* entry = FindFileType(type);
  const std::string extension = entry ? entry->extension : std::string("dat");
  const auto high = static_cast<unsigned>(lba >> 32), low = static_cast<unsigned>(lba);
  if (high != 0) return Format("%x_%x.%s", high, low, extension.c_str());
  return Format("%x.%s", low, extension.c_str());
}

FoundFileNode CarvedFileNode(const ScanHit& hit, std::uint64_t size) {
  FoundFileNode n{};
  n.parentId = hit.kind;
  n.dataSector = hit.lba;
  n.size = size;
  n.typeCode = hit.kind;
  SetKind(n, kPresentFile);
  // Only the size the file's own structure gave (its rule's answer) is
  // structural; a gap size never is.
  if (HasRuleSize(hit) && size == hit.Size()) n.flags |= kFlagStructuralSize;
  return n;
}

std::uint64_t GapSize(const std::vector<ScanHit*>& hits, std::size_t index, const PartitionInfo& scanned,
                      const FreeSpaceMap* free) {
  if (index >= hits.size()) return 0;
  const ScanHit& hit = *hits[index];
  std::uint64_t end = scanned.startLba + scanned.sectorCount;
  for (std::size_t j = index + 1; j < hits.size(); ++j) {
    if (EndsGap(hits[j]->kind)) {
      end = hits[j]->lba;
      break;
    }
  }
  if (end <= hit.lba) return 0;
  std::uint64_t sectors = std::min(end - hit.lba, kMaxGapSectors);
  if (free) sectors = std::min(sectors, free->FreeRunSectors(hit.lba, sectors));
  return sectors * 512;
}

bool HasRuleSize(const ScanHit& hit) { return hit.status == kStatusSized && hit.Size() != 0; }

void ApplyGapSizes(std::vector<ScanHit*>& hits, const PartitionInfo& scanned, const FreeSpaceMap* free) {
  for (std::size_t i = 0; i < hits.size(); ++i) {
    ScanHit& hit = *hits[i];
    if (!IsSignatureKind(hit.kind) || hit.status == kStatusAbsorbed || hit.Size() != 0) continue;
    // A hit marked sized without a size (a damaged saved scan) is sized by
    // its gap like any other.
    if (hit.status == kStatusSized) hit.status = kStatusNone;
    SetSize(hit, GapSize(hits, i, scanned, free));
  }
}

void AppendFileRuns(const PartitionInfo& partition, SectorRuns& runs) {
  if (partition.fsKind == kFsSignature) return;
  const FoundFileTable& t = partition.table;
  if (t.count > kMaxDuplicateNodes) return;
  ExtentList extents;
  for (std::uint32_t id = 0; id < t.count; ++id) {
    const FoundFileNode* n = NodeAt(t, id);
    if (!n || !IsFileKind(KindOf(*n)) || n->size == 0) continue;
    if (!BuildExtents(*n, partition, extents)) continue;
    for (const DataExtent& e : extents)
      if (!e.sparse && e.sectorCount > 0) runs.emplace_back(e.startSector, e.startSector + e.sectorCount);
  }
}

void AppendFileStarts(const PartitionInfo& partition, FileStarts& starts) {
  const FoundFileTable& t = partition.table;
  if (t.count > kMaxDuplicateNodes) return;
  for (std::uint32_t id = 0; id < t.count; ++id) {
    const FoundFileNode* n = NodeAt(t, id);
    if (n && IsFileKind(KindOf(*n)) && n->size != 0) starts.emplace_back(std::uint64_t{n->dataSector}, std::uint64_t{n->size});
  }
}

bool RepeatsFiles(const PartitionInfo& partition, const FileStarts& sortedStarts) {
  FileStarts own;
  AppendFileStarts(partition, own);
  if (own.empty() || sortedStarts.empty()) return false;
  std::size_t repeated = 0;
  for (const auto& file : own) repeated += std::binary_search(sortedStarts.begin(), sortedStarts.end(), file);
  return repeated * 10 >= own.size() * 9;
}

std::size_t DropCarvedInsideFileRuns(std::vector<ScanHit*>& hits, SectorRuns runs) {
  if (runs.empty()) return 0;
  std::sort(runs.begin(), runs.end());
  SectorRuns merged;
  for (const auto& r : runs) {
    if (!merged.empty() && r.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, r.second);
    else
      merged.push_back(r);
  }
  std::size_t dropped = 0;
  for (ScanHit* hit : hits) {
    if (!IsSignatureKind(hit->kind) || hit->status == kStatusAbsorbed) continue;
    // The run holding the hit's first sector, if any.
    auto after = std::upper_bound(merged.begin(), merged.end(), std::make_pair(hit->lba, ~std::uint64_t{0}));
    if (after == merged.begin()) continue;
    const auto& run = *std::prev(after);
    if (hit->lba >= run.second) continue;
    if (HasRuleSize(*hit) && EndSector(*hit) > run.second) continue;
    hit->status = kStatusAbsorbed;
    ++dropped;
  }
  return dropped;
}

std::unique_ptr<PartitionInfo> BuildFoundFilesPartition(
    std::vector<ScanHit*>& hits, const std::vector<std::unique_ptr<PartitionInfo>>& found,
    const DeepScanSettings& settings, const PartitionInfo& scanned) {
  AbsorbNestedCopies(hits);
  if (settings.On(kOptDropCarvedDuplicates)) DropDuplicatesOfFound(hits, found);
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsSignature;
  part->displayName = part->volumeLabel = kFoundFilesLabel;
  part->diskPath = scanned.diskPath;
  part->source = scanned.source;
  part->diskName = scanned.diskName;
  part->startLba = scanned.startLba;
  part->sectorCount = scanned.sectorCount;
  part->diskSectorCount = scanned.diskSectorCount;
  FoundFileTable& table = part->table;
  table.isSignatureTable = true;
  if (!InitTable(table)) return nullptr;
  table.count = std::max(table.count, kFirstFreeId);
  std::uint32_t added = 0;
  for (const ScanHit* hit : hits) {
    if (!IsSignatureKind(hit->kind) || hit->status == kStatusAbsorbed) continue;
    FoundFileNode node = CarvedFileNode(*hit, hit->Size());
    node.parentId = locked::TypeFolder(table, hit->kind);
    if (node.parentId == 0) continue;
    if (AddNodeNamed(table, node, CarvedFileName(hit->lba, hit->kind), true)) ++added;
  }
  if (added == 0) return nullptr;
  FinishTypeFolders(table);
  return part;
}

}  // namespace ambrel
