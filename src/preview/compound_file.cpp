#include "preview/compound_file.h"

#include <algorithm>

#include "preview/walk_result.h"

namespace ambrel {
namespace {

constexpr std::uint32_t kSignatureLow = 0xE011CFD0u;
constexpr std::uint32_t kSignatureHigh = 0xE11AB1A1u;
constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint64_t kLastSectorEnd = 0x8000000;   // no sector reaches past 128 MiB
constexpr std::size_t kMaxFatSectorNumbers = 1023999;
constexpr std::uint64_t kMaxTableEntries = 1024000;
constexpr std::uint64_t kMaxChainLinks = 4096000;
constexpr std::uint64_t kMiniStreamCutoff = 4096;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kEntrySize = 128;

bool Negative(std::uint32_t v) { return (v & 0x80000000u) != 0; }

std::uint32_t LoadU32(const ByteCursor& c, std::size_t off) { return c.U32(off).value_or(0xFFFFFFFFu); }

}  // namespace

bool AllocationTableValid(const std::vector<std::uint32_t>& table, std::uint64_t upperBound) {
  std::vector<std::uint32_t> positive;
  positive.reserve(table.size());
  for (std::uint32_t v : table) {
    if (Negative(v)) {
      if (static_cast<std::int32_t>(v) < -4) return false;
    } else if (v > 0) {
      if (upperBound && v > upperBound) return false;
      positive.push_back(v);
    }
  }
  std::sort(positive.begin(), positive.end());
  return std::adjacent_find(positive.begin(), positive.end()) == positive.end();
}

int CompoundFile::Sector(std::uint32_t number, ByteCursor& out) const {
  const std::uint64_t start = (std::uint64_t{number} + 1) * kSectorSize;
  if (Negative(number) || start > kLastSectorEnd) return kWalkMalformed;
  auto sector = data_.Sub(start, kSectorSize);
  if (!sector) return kWalkNeedMore;
  out = *sector;
  return kWalkOk;
}

int CompoundFile::ReadDifat(std::vector<std::uint32_t>& fatSectors) const {
  for (std::size_t i = 0; i < kHeaderDifatEntries; ++i) {
    const std::uint32_t v = LoadU32(data_, 0x4C + 4 * i);
    if (Negative(v)) break;
    fatSectors.push_back(v);
  }
  std::uint32_t next = LoadU32(data_, 0x44);
  const std::uint32_t difatCount = LoadU32(data_, 0x48);
  std::vector<bool> seen(kLastSectorEnd / kSectorSize + 1);
  for (std::uint32_t k = 0; k < difatCount && !Negative(next); ++k) {
    ByteCursor sector;
    if (int r = Sector(next, sector); r != kWalkOk) return r;
    if (seen[next]) return kWalkMalformed;   // the DIFAT chain loops
    seen[next] = true;
    for (std::size_t j = 0; j < 127; ++j) {
      const std::uint32_t v = sector.UncheckedU32(4 * j);
      if (!Negative(v)) fatSectors.push_back(v);
    }
    if (fatSectors.size() > kMaxFatSectorNumbers) return kWalkMalformed;
    next = sector.UncheckedU32(508);
  }
  if (fatSectors.size() > kMaxFatSectorNumbers) return kWalkMalformed;
  std::vector<std::uint32_t> sorted = fatSectors;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return kWalkMalformed;
  return kWalkOk;
}

int CompoundFile::ReadFat(const std::vector<std::uint32_t>& fatSectors) {
  const std::uint32_t count = LoadU32(data_, 0x2C);
  if (fatSectors.size() != count || std::uint64_t{count} * 128 > kMaxTableEntries)
    return kWalkMalformed;
  fat_.clear();
  fat_.reserve(std::size_t{count} * 128);
  for (std::uint32_t number : fatSectors) {
    ByteCursor sector;
    if (int r = Sector(number, sector); r != kWalkOk) return r;
    for (std::size_t j = 0; j < 128; ++j) fat_.push_back(sector.UncheckedU32(4 * j));
  }
  return AllocationTableValid(fat_, fat_.size() + 1) ? kWalkOk : kWalkMalformed;
}

int CompoundFile::OpenAllocation() {
  if (data_.size() < kSectorSize || data_.U32(0) != kSignatureLow || data_.U32(4) != kSignatureHigh)
    return kWalkMalformed;
  std::vector<std::uint32_t> fatSectors;
  if (int r = ReadDifat(fatSectors); r != kWalkOk) return r;
  return ReadFat(fatSectors);
}

int CompoundFile::FollowChain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                              std::uint64_t wanted, std::uint64_t maxLinks,
                              std::vector<std::uint32_t>& chain) const {
  chain.clear();
  // A chain cannot hold more links than the data holds sectors; a cycle
  // that the table's own rule let through is caught by the visited set.
  const std::uint64_t limit = std::min(maxLinks, kMaxChainLinks - 1);
  std::vector<bool> visited(table.size());
  for (std::uint32_t cur = start; !Negative(cur) && chain.size() < wanted; cur = table[cur]) {
    if (cur >= table.size() || visited[cur] || chain.size() >= limit) return kWalkMalformed;
    visited[cur] = true;
    chain.push_back(cur);
  }
  return kWalkOk;
}

int CompoundFile::ReadSectors(std::uint32_t start, std::uint64_t wanted,
                              std::vector<std::uint8_t>& out) const {
  std::vector<std::uint32_t> chain;
  if (int r = FollowChain(fat_, start, wanted, data_.size() / kSectorSize, chain); r != kWalkOk)
    return r;
  out.clear();
  out.reserve(chain.size() * kSectorSize);
  for (std::uint32_t number : chain) {
    ByteCursor sector;
    if (int r = Sector(number, sector); r != kWalkOk) return r;
    out.insert(out.end(), sector.data(), sector.data() + sector.size());
  }
  return kWalkOk;
}

bool CompoundFile::ReadMiniSectors(std::uint32_t start, std::uint64_t wanted,
                                   std::vector<std::uint8_t>& out) const {
  std::vector<std::uint32_t> chain;
  if (FollowChain(miniFat_, start, wanted, miniStream_.size() / kMiniSectorSize + 1, chain) !=
      kWalkOk)
    return false;
  out.clear();
  ByteCursor mini(miniStream_.data(), miniStream_.size());
  for (std::uint32_t number : chain) {
    auto piece = mini.Sub(std::uint64_t{number} * kMiniSectorSize, kMiniSectorSize);
    if (!piece) return false;
    out.insert(out.end(), piece->data(), piece->data() + piece->size());
  }
  return true;
}

int CompoundFile::ReadMiniFat() {
  miniFat_.clear();
  const std::uint32_t count = LoadU32(data_, 0x40);
  if (count == 0) return kWalkOk;
  std::vector<std::uint8_t> bytes;
  const std::uint64_t wanted = std::min<std::uint64_t>(count, kMaxTableEntries / 128);
  if (int r = ReadSectors(LoadU32(data_, 0x3C), wanted, bytes); r != kWalkOk) return r;
  ByteCursor table(bytes.data(), bytes.size());
  for (std::size_t off = 0; off + 4 <= bytes.size(); off += 4) miniFat_.push_back(table.UncheckedU32(off));
  return AllocationTableValid(miniFat_, 0) ? kWalkOk : kWalkMalformed;
}

int CompoundFile::ReadDirectory() {
  if (int r = ReadSectors(LoadU32(data_, 0x30), kMaxChainLinks, directory_); r != kWalkOk) return r;
  hasRoot_ = EntryName(0) == "Root Entry";
  miniStream_.clear();
  if (!hasRoot_) return kWalkOk;
  ByteCursor root(directory_.data(), kEntrySize);
  const std::uint32_t start = root.UncheckedU32(116);
  const std::uint32_t size = root.UncheckedU32(120);
  if (root.UncheckedU16(64) != 22 || start == 0 || size == 0) return kWalkOk;
  if (size > data_.size()) return kWalkMalformed;
  if (int r = ReadSectors(start, (std::uint64_t{size} + 511) / 512, miniStream_); r != kWalkOk) return r;
  if (miniStream_.size() > size) miniStream_.resize(size);
  return kWalkOk;
}

int CompoundFile::Open() {
  if (fat_.empty()) {
    if (int r = OpenAllocation(); r != kWalkOk) return r;
  }
  if (int r = ReadMiniFat(); r != kWalkOk) return r;
  return ReadDirectory();
}

std::optional<std::string> CompoundFile::EntryName(std::size_t index) const {
  if (index >= EntryCount()) return std::nullopt;
  ByteCursor entry(directory_.data() + index * kEntrySize, kEntrySize);
  const std::uint16_t length = entry.UncheckedU16(64);
  std::string name;
  for (std::size_t i = 0; i < 32; ++i) {
    const std::uint16_t unit = entry.UncheckedU16(2 * i);
    if (unit == 0) break;
    if (unit < 0x20 || unit > 0x7E) return std::nullopt;
    name.push_back(static_cast<char>(unit));
  }
  if (name.empty() || length > 64 || length != (name.size() + 1) * 2) return std::nullopt;
  return name;
}

std::optional<std::size_t> CompoundFile::FindEntry(std::string_view name) const {
  if (!hasRoot_) return std::nullopt;
  for (std::size_t i = 0; i < EntryCount(); ++i) {
    if (EntryName(i) == name) return i;
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> CompoundFile::ReadStream(std::string_view name) const {
  auto index = FindEntry(name);
  if (!index) return std::nullopt;
  ByteCursor entry(directory_.data() + *index * kEntrySize, kEntrySize);
  const std::uint32_t start = entry.UncheckedU32(116);
  const std::uint32_t size = entry.UncheckedU32(120);
  if (size > data_.size()) return std::nullopt;   // no stream outgrows its file
  std::vector<std::uint8_t> bytes;
  if (size >= kMiniStreamCutoff) {
    if (ReadSectors(start, (std::uint64_t{size} + 511) / 512, bytes) != kWalkOk) return std::nullopt;
  } else if (size > 0 && !ReadMiniSectors(start, (std::uint64_t{size} + 63) / 64, bytes)) {
    return std::nullopt;
  }
  if (bytes.size() > size) bytes.resize(size);
  return bytes;
}

}  // namespace ambrel
