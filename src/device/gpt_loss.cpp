#include "device/gpt_loss.h"

#include <set>
#include <utility>

#include <algorithm>
#include <array>


namespace ambrel {

namespace {

constexpr std::uint64_t kMaxEntrySectors = 2048;  // 1024 entries of 1024 bytes

bool Contains(const std::vector<int>& numbers, int n) {
  return std::find(numbers.begin(), numbers.end(), n) != numbers.end();
}

bool ReadHeader(DiskHandle& disk, std::uint64_t lba, GptHeader& header) {
  std::array<std::uint8_t, kSectorSize> sector{};
  return ReadSectors(disk, lba, 1, sector.data()) && DecodeGptHeader(ByteSpan(sector.data(), sector.size()), header);
}


}  // namespace

GptLoss DecodeGptLoss(const GptHeader& header, ByteSpan readableEntries, std::uint64_t diskSectors,
                      const std::vector<int>& found) {
  GptLoss loss;
  loss.diskSectors = diskSectors;
  loss.entriesLba = header.entriesLba;
  loss.entryCount = header.entryCount;
  loss.entrySectors = (std::uint64_t{header.entryCount} * header.entrySize + kSectorSize - 1) / kSectorSize;
  loss.readableSectors = std::min<std::uint64_t>(loss.entrySectors, readableEntries.size() / kSectorSize);
  if (header.entrySize == 0) return loss;
  const ByteCursor entries(readableEntries);
  // An entry that repeats an earlier one's sectors is the same volume (the
  // table reader keeps the first): not lost.
  std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
  for (std::uint32_t i = 0; i < header.entryCount; ++i) {
    const auto entry = entries.Sub(std::uint64_t{i} * header.entrySize, header.entrySize);
    if (!entry) {
      loss.firstUnreadableEntry = i + 1;
      break;
    }
    TablePartition p;
    if (!DecodeGptEntry(entry->span(), static_cast<int>(i + 1), p)) continue;
    if (!seen.insert({p.startLba, p.sectorCount}).second) continue;
    if (!Contains(found, p.number)) loss.lost.push_back(std::move(p));
  }
  return loss;
}

GptLoss FindGptLoss(DiskHandle& disk, const std::vector<int>& found) {
  const std::uint64_t diskSectors = disk.lastLba + 1;
  GptHeader header;
  if (!ReadHeader(disk, 1, header) && !ReadHeader(disk, disk.lastLba, header)) return {};
  std::uint64_t sectors = (std::uint64_t{header.entryCount} * header.entrySize + kSectorSize - 1) / kSectorSize;
  sectors = std::min(sectors, kMaxEntrySectors);
  const std::uint64_t available = header.entriesLba < diskSectors ? diskSectors - header.entriesLba : 0;
  sectors = std::min(sectors, available);
  std::vector<std::uint8_t> bytes(sectors * kSectorSize);
  if (sectors > 0 && !ReadSectors(disk, header.entriesLba, static_cast<std::uint32_t>(sectors), bytes.data()))
    bytes.clear();
  return DecodeGptLoss(header, ByteSpan(bytes.data(), bytes.size()), diskSectors, found);
}

}  // namespace ambrel
