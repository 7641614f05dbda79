#include "deepscan/sector_hit.h"

#include <cstring>
#include <vector>

#include "deepscan/record_payloads.h"
#include "fs/ntfs/ntfs_record.h"

namespace ambrel {
namespace {

constexpr std::size_t kSector = 512;

bool CapReached(std::uint8_t kind, const ChunkHitBuilder& out) {
  const std::uint32_t cap = kind == kHitFileRecord ? kRecordSummariesPerChunk : kPayloadHitsPerKind;
  return out.payloadHits[kind] >= cap;
}

ScanHit BareHit(std::uint8_t kind, std::uint64_t lba) {
  ScanHit hit;
  hit.kind = kind;
  hit.lba = lba;
  return hit;
}

HitOutcome AppendWithPayload(ScanHit hit, ChunkHitBuilder& out) {
  ++out.payloadHits[hit.kind];
  out.hits.push_back(std::move(hit));
  return HitOutcome::kAppended;
}

HitOutcome FileRecordHit(const ChunkData& chunk, std::uint32_t index, std::uint64_t lba,
                         SectorHitSource& source, ChunkHitBuilder& out) {
  const ByteCursor data(chunk.bytes);
  auto header = data.Sub(std::uint64_t(index) * kSector, kSector);
  if (!header) return HitOutcome::kNone;
  // The record's size comes from its own header (the classifier checked it).
  const std::uint32_t recordBytes = StatedRecordBytes(header->span());
  if (recordBytes == 0) return HitOutcome::kNone;
  std::vector<std::uint8_t> record(recordBytes);
  // A record near the chunk's end continues in the next chunk.
  if (auto inPlace = data.Sub(std::uint64_t(index) * kSector, record.size());
      inPlace && index + recordBytes / kSector <= kChunkSectors) {
    std::memcpy(record.data(), inPlace->data(), record.size());
  } else if (!source.ReadDisk(lba, recordBytes / kSector, record.data())) {
    return HitOutcome::kNone;
  }
  auto summary = SummariseFileRecord(record);
  if (!summary) return HitOutcome::kNone;
  ScanHit hit = BareHit(kHitFileRecord, lba);
  hit.aux2 = recordBytes / kSector;
  hit.record = out.arena.Add(*summary);
  return AppendWithPayload(std::move(hit), out);
}

HitOutcome IndxHit(const ChunkData& chunk, std::uint32_t index, std::uint64_t lba,
                   ChunkHitBuilder& out) {
  auto rest = ByteCursor(chunk.bytes).From(std::uint64_t(index) * kSector);
  if (!rest) return HitOutcome::kNone;
  auto directory = IndexedDirectoryOf(rest->span());
  if (!directory) return HitOutcome::kNone;
  ScanHit hit = BareHit(kHitIndxRecord, lba);
  hit.aux1 = *directory;
  out.hits.push_back(std::move(hit));
  return HitOutcome::kAppended;
}

std::uint32_t EntryCluster(const ByteCursor& c, std::size_t entry) {
  return (std::uint32_t(c.UncheckedU16(entry + 20)) << 16) | c.UncheckedU16(entry + 26);
}

void PushGptHints(const ChunkData& chunk, SectorHitSource& source) {
  std::array<std::uint8_t, 4 * kSector> entries{};
  const ByteCursor data(chunk.bytes);
  auto inPlace = chunk.firstLba <= 2
                     ? data.Sub((2 - chunk.firstLba) * kSector, entries.size())
                     : std::nullopt;
  if (inPlace)
    std::memcpy(entries.data(), inPlace->data(), entries.size());
  else if (!source.ReadDisk(2, 4, entries.data()))
    return;
  for (std::uint64_t start : GptEntryStarts(entries)) source.PushHint(start);
}

}  // namespace

HitOutcome MakeSectorHit(const ChunkData& chunk, std::uint32_t index, std::uint64_t lba,
                         std::uint8_t kind, SectorHitSource& source, ChunkHitBuilder& out) {
  const auto sector = ByteCursor(chunk.bytes).Sub(std::uint64_t(index) * kSector, kSector);
  if (!sector) return HitOutcome::kNone;
  if ((CarriesSectorCopy(kind) || kind == kHitFileRecord) && CapReached(kind, out))
    return HitOutcome::kCounted;
  if (CarriesSectorCopy(kind)) {
    ScanHit hit = BareHit(kind, lba);
    hit.sector = std::make_unique<SectorCopy>();
    std::memcpy(hit.sector->data(), sector->data(), kSector);
    return AppendWithPayload(std::move(hit), out);
  }
  switch (kind) {
    case kHitFileRecord: return FileRecordHit(chunk, index, lba, source, out);
    case kHitIndxRecord: return IndxHit(chunk, index, lba, out);
    case kHitFatDirectory: {
      ScanHit hit = BareHit(kind, lba);
      hit.aux1 = EntryCluster(*sector, 0);
      hit.aux2 = EntryCluster(*sector, 32);
      out.hits.push_back(std::move(hit));
      return HitOutcome::kAppended;
    }
    case kHitGptHeader:
      PushGptHints(chunk, source);
      break;
    default:
      break;
  }
  out.hits.push_back(BareHit(kind, lba));
  return HitOutcome::kAppended;
}

}  // namespace ambrel
