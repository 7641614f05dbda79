// OLE2 compound files (the container of Word, Excel, PowerPoint 97-2003,
// Visio and Project documents) read from one buffer: header, DIFAT, FAT,
// mini FAT, directory and streams. Sectors are 512 bytes, mini sectors 64;
// every chain is bounded by the tables, the buffer and a visited set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel {

class CompoundFile {
 public:
  explicit CompoundFile(ByteSpan data) : data_(data) {}

  // Signature, DIFAT and FAT (with its validity rule). Result codes of
  // walk_result.h: 4, 5, or 3 when a table sector lies past the data.
  int OpenAllocation();
  // OpenAllocation, then the mini FAT, the directory and the mini stream.
  int Open();

  const std::vector<std::uint32_t>& fat() const { return fat_; }
  std::size_t EntryCount() const { return directory_.size() / 128; }
  // The name of directory entry `index` when the entry is valid: name
  // length equal to (characters + 1) x 2 and printable ASCII characters.
  std::optional<std::string> EntryName(std::size_t index) const;
  // The first valid entry called `name` (only when entry 0 is the root).
  std::optional<std::size_t> FindEntry(std::string_view name) const;
  // The stream called `name`, through the FAT or the mini FAT.
  std::optional<std::vector<std::uint8_t>> ReadStream(std::string_view name) const;

 private:
  int ReadDifat(std::vector<std::uint32_t>& fatSectors) const;
  int ReadFat(const std::vector<std::uint32_t>& fatSectors);
  int ReadMiniFat();
  int ReadDirectory();
  int Sector(std::uint32_t number, ByteCursor& out) const;
  int FollowChain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                  std::uint64_t wanted, std::uint64_t maxLinks,
                  std::vector<std::uint32_t>& chain) const;
  int ReadSectors(std::uint32_t start, std::uint64_t wanted, std::vector<std::uint8_t>& out) const;
  bool ReadMiniSectors(std::uint32_t start, std::uint64_t wanted, std::vector<std::uint8_t>& out) const;

  ByteCursor data_;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  std::vector<std::uint8_t> directory_;
  std::vector<std::uint8_t> miniStream_;
  bool hasRoot_ = false;
};

// True when every value of an allocation table is >= -4 and every positive
// value occurs once and, when `upperBound` is not 0, is at most upperBound.
bool AllocationTableValid(const std::vector<std::uint32_t>& table, std::uint64_t upperBound);

}  // namespace ambrel
