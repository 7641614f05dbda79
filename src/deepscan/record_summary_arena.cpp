#include "deepscan/record_summary_arena.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ambrel {
namespace detail {

// A block: its reference count (the arena filling it and every entry
// handed out), its size, then the entries. Each entry starts with the
// 16-bit distance back to its block, so a reference is one pointer; a
// shared block is at most 64 KiB, and an entry too large for one sits
// first in a block of its own.
struct SummaryBlock {
  std::atomic<std::uint32_t> refs;
  std::uint32_t bytes;
};

}  // namespace detail

namespace {

using detail::SummaryBlock;

constexpr std::size_t kHeader = sizeof(SummaryBlock);
static_assert(RecordSummaryArena::kBlockBytes <= 0x10000, "entry offsets are 16-bit");

std::size_t VarintBytes(std::uint64_t v) {
  std::size_t n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

std::uint8_t* PutVarint(std::uint8_t* p, std::uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<std::uint8_t>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<std::uint8_t>(v);
  return p;
}

// Entries are written by this file only, so they are read without bounds.
std::uint64_t GetVarint(const std::uint8_t*& p) {
  std::uint64_t v = 0;
  for (int shift = 0;; shift += 7) {
    const std::uint8_t b = *p++;
    v |= std::uint64_t(b & 0x7F) << shift;
    if (!(b & 0x80)) return v;
  }
}

bool IsNarrow(const std::u16string& name) {
  return std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x100; });
}

std::size_t EntryBytes(const FileRecordSummary& s, bool narrow) {
  const std::size_t nameBytes = s.name.size() * (narrow ? 1 : 2);
  return 2 + VarintBytes((std::uint64_t(s.name.size()) << 1) | (narrow ? 0 : 1)) +
         VarintBytes(s.runs.size()) + VarintBytes(s.recordNumber) + VarintBytes(s.parentRecord) +
         VarintBytes(s.dataSize) + VarintBytes(s.allocatedSize) + 1 + nameBytes + s.runs.size();
}

void WriteEntry(std::uint8_t* p, std::uint16_t backOffset, const FileRecordSummary& s, bool narrow) {
  *p++ = static_cast<std::uint8_t>(backOffset);
  *p++ = static_cast<std::uint8_t>(backOffset >> 8);
  p = PutVarint(p, (std::uint64_t(s.name.size()) << 1) | (narrow ? 0 : 1));
  p = PutVarint(p, s.runs.size());
  p = PutVarint(p, s.recordNumber);
  p = PutVarint(p, s.parentRecord);
  p = PutVarint(p, s.dataSize);
  p = PutVarint(p, s.allocatedSize);
  *p++ = s.flags;
  for (char16_t c : s.name) {
    *p++ = static_cast<std::uint8_t>(c);
    if (!narrow) *p++ = static_cast<std::uint8_t>(c >> 8);
  }
  if (!s.runs.empty()) std::memcpy(p, s.runs.data(), s.runs.size());
}

SummaryBlock* NewBlock(std::size_t bytes) {
  void* memory = std::malloc(bytes);
  if (!memory) throw std::bad_alloc();
  auto* block = new (memory) SummaryBlock{};
  block->refs.store(1, std::memory_order_relaxed);
  block->bytes = static_cast<std::uint32_t>(bytes);
  return block;
}

void Unref(SummaryBlock* block) {
  if (block->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block->~SummaryBlock();
    std::free(block);
  }
}

std::uint8_t* DataOf(SummaryBlock* block) { return reinterpret_cast<std::uint8_t*>(block); }

SummaryBlock* BlockOf(std::uint8_t* entry) {
  const std::size_t back = entry[0] | (std::size_t(entry[1]) << 8);
  return reinterpret_cast<SummaryBlock*>(entry - back);
}

}  // namespace

std::u16string PackedName::ToU16() const {
  std::u16string out(units_, u'\0');
  for (std::size_t i = 0; i < units_; ++i) out[i] = (*this)[i];
  return out;
}

bool PackedName::operator==(const PackedName& other) const {
  if (units_ != other.units_) return false;
  for (std::size_t i = 0; i < units_; ++i)
    if ((*this)[i] != other[i]) return false;
  return true;
}

bool PackedName::operator==(std::u16string_view text) const {
  if (units_ != text.size()) return false;
  for (std::size_t i = 0; i < units_; ++i)
    if ((*this)[i] != text[i]) return false;
  return true;
}

FileRecordSummary RecordSummaryView::Unpack() const {
  FileRecordSummary s;
  s.parentRecord = parentRecord;
  s.recordNumber = recordNumber;
  s.name = name.ToU16();
  s.runs.assign(runs.begin(), runs.end());
  s.dataSize = dataSize;
  s.allocatedSize = allocatedSize;
  s.flags = flags;
  return s;
}

bool RecordSummaryView::operator==(const RecordSummaryView& other) const {
  return parentRecord == other.parentRecord && recordNumber == other.recordNumber &&
         name == other.name && std::equal(runs.begin(), runs.end(), other.runs.begin(), other.runs.end()) &&
         dataSize == other.dataSize && allocatedSize == other.allocatedSize && flags == other.flags;
}

RecordSummaryRef& RecordSummaryRef::operator=(RecordSummaryRef&& other) noexcept {
  if (this != &other) {
    Release();
    entry_ = other.entry_;
    other.entry_ = nullptr;
  }
  return *this;
}

void RecordSummaryRef::Release() {
  if (entry_) Unref(BlockOf(entry_));
  entry_ = nullptr;
}

RecordSummaryRef RecordSummaryRef::Pack(const FileRecordSummary& summary) {
  RecordSummaryArena arena(0);  // a block of the entry's size
  return arena.Add(summary);
}

RecordSummaryView RecordSummaryRef::operator*() const {
  RecordSummaryView v;
  const std::uint8_t* p = entry_ + 2;
  const std::uint64_t nameField = GetVarint(p);
  const std::size_t runsBytes = static_cast<std::size_t>(GetVarint(p));
  v.recordNumber = static_cast<std::uint32_t>(GetVarint(p));
  v.parentRecord = static_cast<std::uint32_t>(GetVarint(p));
  v.dataSize = GetVarint(p);
  v.allocatedSize = GetVarint(p);
  v.flags = *p++;
  const bool wide = nameField & 1;
  const std::size_t units = static_cast<std::size_t>(nameField >> 1);
  v.name = PackedName(p, units, wide);
  p += units * (wide ? 2 : 1);
  v.runs = ByteSpan(p, runsBytes);
  return v;
}

std::size_t RecordSummaryRef::PackedBytes() const {
  if (!entry_) return 0;
  const RecordSummaryView v = **this;
  return static_cast<std::size_t>(v.runs.data() + v.runs.size() - entry_);
}

RecordSummaryArena::RecordSummaryArena(RecordSummaryArena&& other) noexcept
    : block_(other.block_), used_(other.used_), nextBlock_(other.nextBlock_),
      blocksMade_(other.blocksMade_), bytesReserved_(other.bytesReserved_) {
  other.block_ = nullptr;
  other.used_ = 0;
}

RecordSummaryArena& RecordSummaryArena::operator=(RecordSummaryArena&& other) noexcept {
  if (this != &other) {
    Drop();
    block_ = other.block_;
    used_ = other.used_;
    nextBlock_ = other.nextBlock_;
    blocksMade_ = other.blocksMade_;
    bytesReserved_ = other.bytesReserved_;
    other.block_ = nullptr;
    other.used_ = 0;
  }
  return *this;
}

RecordSummaryArena::~RecordSummaryArena() { Drop(); }

void RecordSummaryArena::Drop() {
  if (block_) Unref(block_);
  block_ = nullptr;
  used_ = 0;
}

RecordSummaryRef RecordSummaryArena::Add(const FileRecordSummary& summary) {
  const bool narrow = IsNarrow(summary.name);
  const std::size_t size = EntryBytes(summary, narrow);
  ++blocksMade_;  // undone below when the entry fits the current block
  if (kHeader + size > kBlockBytes) {
    // Too large to share a block: one of its own, the current one kept.
    bytesReserved_ += kHeader + size;
    SummaryBlock* own = NewBlock(kHeader + size);
    WriteEntry(DataOf(own) + kHeader, kHeader, summary, narrow);
    return RecordSummaryRef(DataOf(own) + kHeader);
  }
  if (!block_ || used_ + size > block_->bytes) {
    const std::size_t bytes = std::max(nextBlock_, kHeader + size);
    SummaryBlock* fresh = NewBlock(bytes);
    Drop();
    block_ = fresh;
    used_ = kHeader;
    bytesReserved_ += bytes;
    nextBlock_ = std::min(kBlockBytes, std::max(bytes, RecordSummaryArena::kFirstBlockBytes) * 2);
  } else {
    --blocksMade_;
  }
  std::uint8_t* entry = DataOf(block_) + used_;
  WriteEntry(entry, static_cast<std::uint16_t>(used_), summary, narrow);
  used_ += size;
  block_->refs.fetch_add(1, std::memory_order_relaxed);
  return RecordSummaryRef(entry);
}

}  // namespace ambrel
