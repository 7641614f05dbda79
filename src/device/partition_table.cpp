#include "device/partition_table.h"

#include <algorithm>
#include <set>
#include <zlib.h>

#include "common/text.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxLogicalPartitions = 128;

std::uint32_t Crc32(ByteSpan bytes) {
  return static_cast<std::uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

// Mixed-endian GUID text, as tools print it.
std::string GuidText(const ByteCursor& g) {
  return Format("%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.UncheckedU32(0),
                g.UncheckedU16(4), g.UncheckedU16(6), g.UncheckedU8(8), g.UncheckedU8(9),
                g.UncheckedU8(10), g.UncheckedU8(11), g.UncheckedU8(12), g.UncheckedU8(13),
                g.UncheckedU8(14), g.UncheckedU8(15));
}

bool FitsDisk(std::uint64_t start, std::uint64_t count, std::uint64_t diskSectors) {
  return count != 0 && start < diskSectors && count <= diskSectors - start;
}

// Walks the chain of extended boot records. Every slot of an EBR that is
// not a link is a logical partition relative to that EBR (usually only the
// first); a link slot points at the next EBR relative to the extended
// partition's start.
void ReadLogicalPartitions(DiskHandle& disk, std::uint64_t extendedStart, std::uint64_t diskSectors,
                           PartitionTable& table) {
  std::set<std::uint64_t> visited;
  std::uint64_t ebr = extendedStart;
  int number = 5;
  std::array<std::uint8_t, 512> sector{};
  while (visited.size() < kMaxLogicalPartitions && visited.insert(ebr).second) {
    std::array<MbrSlot, 4> slots;
    if (!ReadSectors(disk, ebr, 1, sector.data()) || !DecodeMbrSlots(sector, slots)) return;
    std::uint64_t next = 0;
    for (const MbrSlot& slot : slots) {
      if (slot.type == 0) continue;
      if (IsExtendedType(slot.type)) {
        if (next == 0 && slot.startLba != 0) next = extendedStart + slot.startLba;
        continue;
      }
      if (!FitsDisk(ebr + slot.startLba, slot.sectorCount, diskSectors) ||
          table.partitions.size() >= kMaxLogicalPartitions + 4)
        continue;
      TablePartition p;
      p.number = number++;
      p.startLba = ebr + slot.startLba;
      p.sectorCount = slot.sectorCount;
      p.mbrType = slot.type;
      table.partitions.push_back(p);
    }
    if (next == 0 || next >= diskSectors) return;
    ebr = next;
  }
}

// A table may name the same sectors more than once (a GPT whose entries
// were all written alike): those are one volume, kept under the first
// entry's number, so it is neither listed nor copied out twice.
void DropRepeatedVolumes(PartitionTable& table) {
  std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
  std::vector<TablePartition> kept;
  kept.reserve(table.partitions.size());
  for (TablePartition& p : table.partitions)
    if (seen.insert({p.startLba, p.sectorCount}).second) kept.push_back(std::move(p));
  table.partitions = std::move(kept);
}

bool ReadGptAt(DiskHandle& disk, std::uint64_t headerLba, std::uint64_t diskSectors,
               PartitionTable& table) {
  std::array<std::uint8_t, 512> sector{};
  GptHeader h;
  if (!ReadSectors(disk, headerLba, 1, sector.data()) || !DecodeGptHeader(sector, h)) return false;
  std::uint64_t bytes = std::uint64_t{h.entryCount} * h.entrySize;  // at most 1 MiB
  std::uint64_t sectors = (bytes + 511) / 512;
  if (h.entriesLba >= diskSectors || sectors > diskSectors - h.entriesLba) return false;
  std::vector<std::uint8_t> entries(sectors * 512);
  if (!ReadSectors(disk, h.entriesLba, static_cast<std::uint32_t>(sectors), entries.data()))
    return false;
  ByteCursor all(entries.data(), static_cast<std::size_t>(bytes));
  if (Crc32(all.span()) != h.entriesCrc) return false;
  table.kind = TableKind::kGpt;
  for (std::uint32_t i = 0; i < h.entryCount; ++i) {
    auto entry = all.Sub(std::uint64_t{i} * h.entrySize, h.entrySize);
    TablePartition p;
    if (entry && DecodeGptEntry(entry->span(), static_cast<int>(i + 1), p) &&
        FitsDisk(p.startLba, p.sectorCount, diskSectors))
      table.partitions.push_back(std::move(p));
  }
  DropRepeatedVolumes(table);
  return true;
}

}  // namespace

const char* TableKindName(TableKind kind) {
  switch (kind) {
    case TableKind::kMbr: return "mbr";
    case TableKind::kGpt: return "gpt";
    case TableKind::kNone: break;
  }
  return "none";
}

bool DecodeMbrSlots(ByteSpan sector, std::array<MbrSlot, 4>& slots) {
  ByteCursor c(sector);
  if (c.U8(510) != 0x55 || c.U8(511) != 0xAA) return false;
  for (int i = 0; i < 4; ++i) {
    std::uint64_t at = 446 + 16 * i;
    MbrSlot& s = slots[i];
    s.status = *c.U8(at);
    s.type = *c.U8(at + 4);
    s.startLba = *c.U32(at + 8);
    s.sectorCount = *c.U32(at + 12);
    if (s.type != 0 && s.status != 0x00 && s.status != 0x80) return false;
  }
  return true;
}

bool DecodeGptHeader(ByteSpan sector, GptHeader& header) {
  ByteCursor c(sector);
  if (c.size() < 512 || !c.Matches(0, "EFI PART")) return false;
  std::uint32_t size = *c.U32(12);
  if (size < 92 || size > 512) return false;
  std::vector<std::uint8_t> copy(sector.begin(), sector.begin() + size);
  for (int i = 16; i < 20; ++i) copy[i] = 0;  // the CRC is computed with its own field zeroed
  if (Crc32(copy) != *c.U32(16)) return false;
  header.currentLba = *c.U64(24);
  header.backupLba = *c.U64(32);
  header.firstUsableLba = *c.U64(40);
  header.lastUsableLba = *c.U64(48);
  header.entriesLba = *c.U64(72);
  header.entryCount = *c.U32(80);
  header.entrySize = *c.U32(84);
  header.entriesCrc = *c.U32(88);
  return header.entrySize >= 128 && header.entrySize <= 1024 && header.entrySize % 8 == 0 &&
         header.entryCount != 0 && header.entryCount <= kMaxGptEntries;
}

bool DecodeGptEntry(ByteSpan entry, int number, TablePartition& out) {
  ByteCursor c(entry);
  if (c.size() < 128) return false;
  if (*c.U64(0) == 0 && *c.U64(8) == 0) return false;  // unused slot
  std::uint64_t first = *c.U64(32), last = *c.U64(40);
  if (last < first) return false;
  out = TablePartition{};
  out.number = number;
  out.startLba = first;
  out.sectorCount = last - first + 1;
  out.gptType = GuidText(*c.Sub(0, 16));
  std::size_t units = 0;
  while (units < 36 && c.UncheckedU16(56 + 2 * units) != 0) ++units;
  out.name = Utf16LeBytesToUtf8(c.data() + 56, units);
  return true;
}

namespace {

// A boot sector at LBA 0 whose slots also look like entries: the entries
// win only when one of them starts at a file-system boot sector.
bool SlotsPointAtVolumes(DiskHandle& disk, const std::array<MbrSlot, 4>& slots,
                         std::uint64_t diskSectors, SectorJudge judge) {
  std::array<std::uint8_t, 512> sector{};
  for (const MbrSlot& s : slots) {
    if (s.type == 0 || !FitsDisk(s.startLba, s.sectorCount, diskSectors)) continue;
    if (ReadSectors(disk, s.startLba, 1, sector.data()) &&
        judge(sector, diskSectors - s.startLba).IsVolume())
      return true;
  }
  return false;
}

}  // namespace

PartitionTable ReadPartitionTable(DiskHandle& disk, SectorJudge judge) {
  PartitionTable table;
  std::uint64_t diskSectors = disk.lastLba + 1;
  std::array<std::uint8_t, 512> sector{};
  std::array<MbrSlot, 4> slots;
  if (!ReadSectors(disk, 0, 1, sector.data())) return table;
  const SectorVerdict verdict = judge(sector, diskSectors);
  if (!DecodeMbrSlots(sector, slots)) return table;
  if (verdict.IsVolume() &&
      !(verdict.tableEntries && SlotsPointAtVolumes(disk, slots, diskSectors, judge)))
    return table;
  for (const MbrSlot& s : slots) {
    if (s.type == 0xEE) {
      if (ReadGptAt(disk, 1, diskSectors, table) || ReadGptAt(disk, disk.lastLba, diskSectors, table))
        return table;
      break;  // a protective MBR without a readable GPT: fall back to its slots
    }
  }
  table.kind = TableKind::kMbr;
  for (int i = 0; i < 4; ++i) {
    const MbrSlot& s = slots[i];
    if (s.type == 0 || s.type == 0xEE || !FitsDisk(s.startLba, s.sectorCount, diskSectors)) continue;
    if (IsExtendedType(s.type)) {
      ReadLogicalPartitions(disk, s.startLba, diskSectors, table);
      continue;
    }
    TablePartition p;
    p.number = i + 1;
    p.startLba = s.startLba;
    p.sectorCount = s.sectorCount;
    p.mbrType = s.type;
    table.partitions.push_back(p);
  }
  std::stable_sort(table.partitions.begin(), table.partitions.end(),
                   [](const TablePartition& a, const TablePartition& b) { return a.number < b.number; });
  DropRepeatedVolumes(table);
  return table;
}

}  // namespace ambrel
