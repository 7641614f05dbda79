// Packed storage of FILE-record summaries. A scan of a large NTFS volume
// keeps one summary per record found, so each is packed into a shared block
// instead of three heap objects (summary, name, run list): the numbers as
// variable-length integers, the name one byte per unit when every unit is
// below 0x100 (two otherwise), the run list as it stands.
//
// A block is filled by one `RecordSummaryArena` (one per chunk being
// classified, one per saved scan read) and freed when the arena and every
// `RecordSummaryRef` into it are gone, so a hit can be moved anywhere and
// keeps its summary alive, as it did with its own heap objects.
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel {

// What a FILE record tells about its file, kept when the record's MFT could
// not be placed (the partition is rebuilt from loose records later). The
// unpacked form: what the record parser and the saved-scan reader build.
struct FileRecordSummary {
  std::uint32_t parentRecord = 0;   // low 32 bits of the chosen name's parent
  std::uint32_t recordNumber = 0;   // header field at 0x2C
  std::u16string name;              // without terminator; never empty
  std::vector<std::uint8_t> runs;   // the first $DATA's run list, 1..1023 bytes, or empty
  std::uint64_t dataSize = 0;
  std::uint64_t allocatedSize = 0;
  std::uint8_t flags = 0;           // see kSummary* below

  bool operator==(const FileRecordSummary&) const = default;
};
inline constexpr std::uint8_t kSummaryInUse = 0x01;
inline constexpr std::uint8_t kSummaryDirectory = 0x02;
inline constexpr std::uint8_t kSummaryResidentData = 0x04;
inline constexpr std::uint8_t kSummaryHasIndexAllocation = 0x08;

// A packed name: `size()` UTF-16 units, stored one byte each (narrow) or two
// (little-endian).
class PackedName {
 public:
  PackedName() = default;
  PackedName(const std::uint8_t* bytes, std::size_t units, bool wide)
      : bytes_(bytes), units_(units), wide_(wide) {}
  std::size_t size() const { return units_; }
  bool empty() const { return units_ == 0; }
  char16_t operator[](std::size_t i) const {
    return wide_ ? static_cast<char16_t>(bytes_[2 * i] | (bytes_[2 * i + 1] << 8))
                 : static_cast<char16_t>(bytes_[i]);
  }
  std::u16string ToU16() const;
  operator std::u16string() const { return ToU16(); }  // NOLINT: reads as the name it is
  bool operator==(const PackedName& other) const;
  bool operator==(std::u16string_view text) const;

 private:
  const std::uint8_t* bytes_ = nullptr;
  std::size_t units_ = 0;
  bool wide_ = false;
};

// A summary read from its packed entry; valid while its `RecordSummaryRef` lives.
struct RecordSummaryView {
  std::uint32_t parentRecord = 0;
  std::uint32_t recordNumber = 0;
  PackedName name;
  ByteSpan runs;
  std::uint64_t dataSize = 0;
  std::uint64_t allocatedSize = 0;
  std::uint8_t flags = 0;

  FileRecordSummary Unpack() const;
  operator FileRecordSummary() const { return Unpack(); }  // NOLINT: a copy out
  bool operator==(const RecordSummaryView& other) const;
};

namespace detail {
struct SummaryBlock;
}

// Owning reference to one packed summary (8 bytes); move-only, like the
// unique_ptr it replaces. Empty when the hit carries no summary.
class RecordSummaryRef {
 public:
  RecordSummaryRef() = default;
  RecordSummaryRef(std::nullptr_t) {}  // NOLINT: as a null pointer
  RecordSummaryRef(RecordSummaryRef&& other) noexcept : entry_(other.entry_) { other.entry_ = nullptr; }
  RecordSummaryRef& operator=(RecordSummaryRef&& other) noexcept;
  RecordSummaryRef(const RecordSummaryRef&) = delete;
  RecordSummaryRef& operator=(const RecordSummaryRef&) = delete;
  ~RecordSummaryRef() { Release(); }

  // A summary in a block of its own (tests, single records).
  static RecordSummaryRef Pack(const FileRecordSummary& summary);

  explicit operator bool() const { return entry_ != nullptr; }
  // Only on a non-empty reference.
  RecordSummaryView operator*() const;
  struct Arrow {
    RecordSummaryView view;
    const RecordSummaryView* operator->() const { return &view; }
  };
  Arrow operator->() const { return Arrow{**this}; }

  // Bytes of the packed entry (the measure of what a hit costs).
  std::size_t PackedBytes() const;

 private:
  friend class RecordSummaryArena;
  explicit RecordSummaryRef(std::uint8_t* entry) : entry_(entry) {}
  void Release();
  std::uint8_t* entry_ = nullptr;
};

// Packs summaries one after another into blocks that grow from
// `kFirstBlockBytes` to `kBlockBytes`; an entry larger than a block gets a
// block of its own. An arena that packs nothing allocates nothing.
class RecordSummaryArena {
 public:
  static constexpr std::size_t kFirstBlockBytes = 512;
  static constexpr std::size_t kBlockBytes = 64 * 1024;

  RecordSummaryArena() = default;
  explicit RecordSummaryArena(std::size_t firstBlockBytes) : nextBlock_(firstBlockBytes) {}
  RecordSummaryArena(RecordSummaryArena&& other) noexcept;
  RecordSummaryArena& operator=(RecordSummaryArena&& other) noexcept;
  RecordSummaryArena(const RecordSummaryArena&) = delete;
  RecordSummaryArena& operator=(const RecordSummaryArena&) = delete;
  ~RecordSummaryArena();

  RecordSummaryRef Add(const FileRecordSummary& summary);

  // Blocks this arena allocated, and the bytes they hold (for tests).
  std::size_t BlocksMade() const { return blocksMade_; }
  std::size_t BytesReserved() const { return bytesReserved_; }

 private:
  void Drop();
  detail::SummaryBlock* block_ = nullptr;  // the block being filled (one reference held)
  std::size_t used_ = 0;
  std::size_t nextBlock_ = kFirstBlockBytes;
  std::size_t blocksMade_ = 0;
  std::size_t bytesReserved_ = 0;
};

}  // namespace ambrel
