// One MFT record of the volume's record size (1024 or 4096 bytes, as the
// boot sector gives it; the span passed is the whole record): update-sequence fixups, attribute walking and the
// decoding of the fields the file listing needs. Pure functions over spans;
// any thread. Every offset and length read from the record is checked: an
// attribute must lie wholly inside the record and every field it points at
// wholly inside the attribute, or it is not used.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "catalog/found_file_node.h"
#include "common/byte_cursor.h"
#include "fs/ntfs/ntfs_run_list.h"

namespace ambrel {

// What the update sequence said of a record.
enum class RecordFixup : std::uint8_t {
  kApplied,     // every 512-byte block ended with the sequence number
  kTorn,        // some block did not: a write was cut (those blocks are left as read)
  kNoSequence,  // the array (offset 0x04, count 0x06) does not fit the record
};
// Checks the update-sequence number at the end of every 512-byte block of
// the record against the one at the array's start and puts the saved bytes
// back where it matches. The array must hold one entry per block plus the
// number (count = size / 512 + 1), lie before the first block's end and
// start on an even offset; the span must be a whole number of blocks.
RecordFixup ApplyRecordFixups(std::span<std::uint8_t> record);

// The record size a FILE record's own header states, for records found
// without their volume's boot sector: the allocated size at 0x1C, a power of
// two from 512 bytes to 64 KiB, whose update-sequence count (0x06) is one
// entry per 512-byte block plus the number. 0 when the header is not so.
std::uint32_t StatedRecordBytes(ByteSpan header);

// One attribute, bounded by its own length.
struct MftAttribute {
  std::uint32_t type = 0;
  std::size_t offset = 0;   // from the record start
  ByteCursor bytes;         // the whole attribute
  bool nonResident = false;
};

// Steps through the attributes of a record from its first-attribute offset.
// Ends at type 0 or 0xFFFFFFFF, at a length of 0, at an attribute that would
// pass the record end, or when the next header would not fit.
class MftAttributeWalker {
 public:
  explicit MftAttributeWalker(ByteSpan record);
  std::optional<MftAttribute> Next();
  // True when the walk ended at a malformed header (a length of 0, an
  // attribute passing the record end) rather than at the end marker.
  bool broken() const { return broken_; }

 private:
  ByteCursor record_;
  std::size_t pos_ = 0;
  bool done_ = false;
  bool broken_ = false;
};

// The first attribute of `type` at or after record offset `after` (none:
// from the start). Requires the "FILE" signature.
std::optional<MftAttribute> FindAttribute(ByteSpan record, std::optional<std::size_t> after,
                                          std::uint32_t type);

// A resident attribute's value, when it lies inside the attribute.
std::optional<ByteCursor> ResidentValue(const MftAttribute& attribute);
// A non-resident attribute's run list: from its run-list offset to the
// attribute's end.
std::optional<ByteCursor> RunListBytes(const MftAttribute& attribute);

// How a file's $DATA is stored, beyond its run list: kept in the node's
// `extraCount` for the copy-out and the preview.
enum NtfsDataMark : std::uint32_t {
  kNtfsDataCompressed = 1u << 0,  // LZNT1 compression units
  kNtfsDataEncrypted = 1u << 1,   // EFS: the clusters hold ciphertext
  kNtfsDataDamaged = 1u << 2,     // the record's $DATA cannot be located
  kNtfsRecordTorn = 1u << 3,      // the record failed its update-sequence check
};
// Bits 8-15: log2 of the compression unit in clusters.
inline constexpr unsigned kNtfsUnitShiftBit = 8;
inline std::uint32_t NtfsUnitShift(std::uint32_t marks) { return (marks >> kNtfsUnitShiftBit) & 0xFF; }

// A non-resident attribute other than the $DATA the summary's run list
// holds: a later piece of the unnamed $DATA (a fragmented file whose run
// list an attribute list spread over extension records), a named stream,
// a folder's index blocks and its $BITMAP, a non-resident attribute list.
struct NtfsAttributePiece {
  std::uint32_t type = 0;
  bool unnamedData = false;    // a piece of the file's unnamed $DATA
  std::uint64_t startVcn = 0;  // the piece's first cluster of the attribute
  std::vector<RunEntry> runs;
};

// What the listing takes from one record.
struct MftRecordSummary {
  std::uint32_t recordNumber = 0;
  // An extension record's base record (header 0x20); 0 for a base record.
  std::uint32_t baseRecord = 0;
  bool attributeList = false;       // the record has an $ATTRIBUTE_LIST
  std::uint16_t nodeFlags = 0;      // FoundFileNode flags: in use, directory, resident
  bool hasName = false;
  std::string name;                 // UTF-8
  std::uint32_t parentId = 0;
  PackedTime created = 0;
  PackedTime modified = 0;
  std::uint64_t size = 0;
  std::vector<std::uint8_t> runList;              // of the first $DATA, shorter than the record
  std::vector<std::vector<RunEntry>> indexRuns;   // of each $INDEX_ALLOCATION
  std::uint32_t dataMarks = 0;                    // NtfsDataMark bits and unit shift
  std::vector<NtfsAttributePiece> pieces;         // every other non-resident attribute
};

// Decodes a fixed-up record (the span is the whole record: 512-byte blocks).
// Rejects a record without the "FILE" signature, with a number or base
// record above 0x1FFFFF, with $DATA before any name (unless an attribute
// list or a base record says the name lies in another record), or a system
// record whose name starts with '$' (other than the recycle bin) unless
// keepSystem is set.
std::optional<MftRecordSummary> DecodeMftRecord(ByteSpan record, bool keepSystem);

// Joins the unnamed $DATA pieces of a file spread over its base and
// extension records to the run list of its first piece (`summary.runList`,
// the piece at VCN 0): the pieces in VCN order, each starting where the
// runs before it end. A gap, an overlap or a list beyond 64 KiB marks the
// data damaged. The pieces joined leave `summary.pieces`.
void JoinDataPieces(MftRecordSummary& summary);

// The packed form of a run list, with a 0 byte at its end.
std::vector<std::uint8_t> EncodeRunList(const std::vector<RunEntry>& runs);

// True for "$RECYCLE.BIN" in any ASCII letter case (exactly 12 characters).
bool IsNtfsRecycleBinName(const std::string& name);

}  // namespace ambrel
