// Decoding of exFAT directory entries: file entry sets (file, stream
// extension, file names), live and deleted, and the sector tests the deep
// scan uses to recognise directory sectors. Pure functions over spans.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "catalog/found_file_node.h"

namespace ambrel {

inline constexpr std::size_t kExfatMaxName = 259;  // characters

struct ExfatFileSet {
  std::string name;
  bool deleted = false;
  bool directory = false;
  std::uint64_t size = 0;          // DataLength: the bytes allocated to the file
  std::uint64_t validLength = 0;   // ValidDataLength: the bytes ever written (<= size)
  std::uint32_t firstCluster = 0;
  bool noFatChain = false;         // stream flag bit 1: contiguous clusters, the FAT unused
  PackedTime created = 0;
  PackedTime modified = 0;
};

// Walks the entries of a directory buffer, calling `onSet` for each complete
// entry set in order. Stops at the first entry of type 0.
template <typename OnSet>
void ForEachExfatSet(std::span<const std::uint8_t> buffer, OnSet&& onSet);

// Collects every complete set of a buffer (tests, fuzzing).
std::vector<ExfatFileSet> DecodeExfatEntries(std::span<const std::uint8_t> buffer);

// A volume-label entry: type 0x83 / 0x03, character count below 16, none of
// its characters 0, and every byte after them zero.
bool IsExfatLabelEntry(const std::uint8_t* entry);
// Entries first .. 15 of one 512-byte sector form at least one complete set
// and nothing that does not belong in a directory.
bool CheckExfatEntrySets(std::span<const std::uint8_t> sector, unsigned first);
// The first sector of a root directory: label, bitmap, up-case table, sets.
bool IsExfatRootDirectory(std::span<const std::uint8_t> sector);

// The SetChecksum of a file entry set (`entries` holds the file entry and
// its secondaries): every byte but the checksum field itself (2..3 of the
// file entry), rotated right by one before each add. A deleted set is
// summed with the in-use bit of each type put back, as it was written.
std::uint16_t ExfatSetChecksum(std::span<const std::uint8_t> entries);

// The first bytes of a folder's first cluster: a file entry set (live or
// deleted, not mixed) with a stream extension and as many name entries as
// its name length needs, whose checksum holds. A set that does not end
// inside `bytes` is not taken. Pure, over cut bytes too.
bool IsExfatFolderStart(std::span<const std::uint8_t> bytes);

// The first bytes of a later cluster of a folder, into which the set before
// it runs on: the rest of that set (secondary entries of one state: a
// stream extension only first, then names; 18 at most), then a whole set
// as IsExfatFolderStart takes it. A folder's freed clusters (a driver
// shrinks a folder whose entries were deleted) begin so. The offset of that
// whole set; 0 when `bytes` do not begin so.
std::size_t ExfatFolderPieceStart(std::span<const std::uint8_t> bytes);

// --- implementation of the template -------------------------------------

namespace exfat_detail {
// Decodes entry i into the pending set; returns true when the set completed.
struct SetBuilder {
  ExfatFileSet set;
  unsigned remaining = 0;
  unsigned nameLength = 0;  // NameLength of the stream extension, in UTF-16 units
  bool open = false;
  std::u16string name;
  bool Feed(const std::uint8_t* e);
};
}  // namespace exfat_detail

template <typename OnSet>
void ForEachExfatSet(std::span<const std::uint8_t> buffer, OnSet&& onSet) {
  exfat_detail::SetBuilder builder;
  const std::size_t n = buffer.size() / 32;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* e = buffer.data() + i * 32;
    if (e[0] == 0) break;
    if (builder.Feed(e)) onSet(builder.set);
  }
}

}  // namespace ambrel
