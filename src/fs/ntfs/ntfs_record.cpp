#include "catalog/folder_names.h"
#include "fs/ntfs/ntfs_record.h"

#include <algorithm>

#include "common/text.h"
#include "fs/boot_probe.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_time.h"

namespace ambrel {

RecordFixup ApplyRecordFixups(std::span<std::uint8_t> record) {
  const std::size_t size = record.size();
  if (size < kUpdateSequenceStride || size % kUpdateSequenceStride != 0) return RecordFixup::kNoSequence;
  const std::size_t blocks = size / kUpdateSequenceStride;
  const std::size_t offset = std::size_t{record[kRecordUpdateSequenceOffset]} |
                             std::size_t{record[kRecordUpdateSequenceOffset + 1]} << 8;
  const std::size_t count = std::size_t{record[kRecordUpdateSequenceCount]} |
                            std::size_t{record[kRecordUpdateSequenceCount + 1]} << 8;
  // The array sits in the header, after its own offset and count fields,
  // and wholly before the first block's protected tail.
  if (count != blocks + 1 || offset % 2 != 0 || offset < kRecordUpdateSequenceCount + 2 ||
      offset + 2 * count > kUpdateSequenceStride - 2)
    return RecordFixup::kNoSequence;
  bool torn = false;
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::size_t tail = (b + 1) * kUpdateSequenceStride - 2;
    const std::size_t saved = offset + 2 * (b + 1);
    if (record[tail] != record[offset] || record[tail + 1] != record[offset + 1]) {
      torn = true;
      continue;
    }
    record[tail] = record[saved];
    record[tail + 1] = record[saved + 1];
  }
  return torn ? RecordFixup::kTorn : RecordFixup::kApplied;
}

std::uint32_t StatedRecordBytes(ByteSpan header) {
  const ByteCursor c(header);
  auto allocated = c.U32(kRecordAllocatedSize);
  auto count = c.U16(kRecordUpdateSequenceCount);
  if (!allocated || !count) return 0;
  const std::uint32_t bytes = *allocated;
  if (bytes < kUpdateSequenceStride || bytes > kMaxNtfsRecordBytes || (bytes & (bytes - 1)) != 0) return 0;
  return *count == bytes / kUpdateSequenceStride + 1 ? bytes : 0;
}

MftAttributeWalker::MftAttributeWalker(ByteSpan record) {
  if (record.size() < kUpdateSequenceStride) {
    done_ = true;
    return;
  }
  record_ = ByteCursor(record);
  pos_ = record_.U16(kRecordFirstAttribute).value_or(0);
}

std::optional<MftAttribute> MftAttributeWalker::Next() {
  const std::size_t end = record_.size();
  if (done_ || pos_ + kAttrHeaderBytes > end) {
    // A record always ends with the end marker, which needs 4 bytes.
    if (!done_ && pos_ + 4 > end) broken_ = true;
    else if (!done_ && record_.UncheckedU32(pos_) != kAttrEnd) broken_ = true;
    done_ = true;
    return std::nullopt;
  }
  const std::uint32_t type = record_.UncheckedU32(pos_);
  const std::uint32_t length = record_.UncheckedU32(pos_ + kAttrLength);
  auto bytes = record_.Sub(pos_, length);
  if (type == 0 || type == kAttrEnd || length == 0 || !bytes) {
    broken_ = type != 0 && type != kAttrEnd;
    done_ = true;
    return std::nullopt;
  }
  MftAttribute attribute;
  attribute.type = type;
  attribute.offset = pos_;
  attribute.bytes = *bytes;
  attribute.nonResident = record_.UncheckedU8(pos_ + kAttrNonResident) == 1;
  pos_ += length;
  return attribute;
}

std::optional<MftAttribute> FindAttribute(ByteSpan record, std::optional<std::size_t> after,
                                          std::uint32_t type) {
  if (!ByteCursor(record).Matches(0, "FILE")) return std::nullopt;
  MftAttributeWalker walker(record);
  while (auto attribute = walker.Next()) {
    if (attribute->type == type && (!after || attribute->offset >= *after)) return attribute;
  }
  return std::nullopt;
}

std::optional<ByteCursor> ResidentValue(const MftAttribute& attribute) {
  auto offset = attribute.bytes.U16(kAttrValueOffset);
  auto length = attribute.bytes.U32(kAttrValueLength);
  if (!offset || !length) return std::nullopt;
  return attribute.bytes.Sub(*offset, *length);
}

std::optional<ByteCursor> RunListBytes(const MftAttribute& attribute) {
  auto offset = attribute.bytes.U16(kAttrRunListOffset);
  if (!offset) return std::nullopt;
  return attribute.bytes.From(*offset);
}

bool IsNtfsRecycleBinName(const std::string& name) {
  return name.size() == 12 && AsciiUpper(name) == "$RECYCLE.BIN";
}

namespace {

struct DecodeState {
  MftRecordSummary summary;
  bool system = false;
  bool dataSeen = false;
  // The file's attributes lie in more than one record (an extension record,
  // or a base record with an attribute list): its name and its $DATA
  // pieces may be in any of them.
  bool spread = false;
  bool keepSystem = false;
  std::size_t recordBytes = 0;
};

enum class Step { kGoOn, kReject };

void TakeStandardInformation(const MftAttribute& attribute, DecodeState& state) {
  auto value = ResidentValue(attribute);
  if (!value) return;
  if (auto created = value->U64(0)) state.summary.created = FileTimeToPackedTime(*created);
  if (auto modified = value->U64(8)) state.summary.modified = FileTimeToPackedTime(*modified);
  if (auto dosAttributes = value->U32(0x20)) {
    state.system = (*dosAttributes & 0x4) != 0;
    if (*dosAttributes & kDosEncrypted) state.summary.dataMarks |= kNtfsDataEncrypted;
  }
}

Step TakeFileName(const MftAttribute& attribute, DecodeState& state) {
  auto value = ResidentValue(attribute);
  if (!value) return Step::kGoOn;
  auto parent = value->U32(kFileNameParent);
  auto length = value->U8(kFileNameLength);
  auto space = value->U8(kFileNameSpace);
  if (!parent || !length || !space) return Step::kGoOn;
  const bool replaces = *space == kNameSpaceWin32 || *space == kNameSpaceWin32AndDos;
  const bool firstPosix = *space == kNameSpacePosix && !state.summary.hasName;
  if (!replaces && !firstPosix) return Step::kGoOn;
  auto text = value->Sub(kFileNameText, std::uint64_t{*length} * 2);
  if (!text) return Step::kGoOn;
  MftRecordSummary& s = state.summary;
  s.hasName = true;
  s.parentId = *parent;
  s.name = NameUtf16LeBytesToUtf8(text->data(), *length);
  if (!state.system || s.name.empty() || s.name[0] != '$') return Step::kGoOn;
  if (IsNtfsRecycleBinName(s.name)) {
    // The recycle bin is always listed as a deleted folder.
    s.name = kRecycleBinFolderName;
    s.nodeFlags = static_cast<std::uint16_t>((s.nodeFlags & ~kFlagPresent) | kFlagDirectory);
    return Step::kGoOn;
  }
  return state.keepSystem ? Step::kGoOn : Step::kReject;
}

// Compression and encryption of a non-resident $DATA (header flags at
// 0x0C, compression unit at 0x22).
void TakeDataFlags(const MftAttribute& attribute, MftRecordSummary& s) {
  const std::uint16_t flags = attribute.bytes.U16(kAttrFlags).value_or(0);
  if (flags & kAttrFlagEncrypted) s.dataMarks |= kNtfsDataEncrypted;
  if (!(flags & kAttrFlagCompressionMask)) return;
  const std::uint8_t shift = attribute.bytes.U8(kAttrCompressionUnit).value_or(0);
  if ((flags & kAttrFlagCompressionMask) != kAttrFlagLznt1 || shift == 0 || shift > kMaxCompressionUnitShift) {
    s.dataMarks |= kNtfsDataDamaged;  // a compression this reader cannot undo
    return;
  }
  s.dataMarks |= kNtfsDataCompressed | (std::uint32_t{shift} << kNtfsUnitShiftBit);
}

void TakePiece(const MftAttribute& attribute, DecodeState& state, bool unnamedData) {
  if (!attribute.nonResident) return;
  auto startVcn = attribute.bytes.U64(kAttrStartVcn);
  auto runs = RunListBytes(attribute);
  if (!startVcn || !runs || runs->empty()) return;
  NtfsAttributePiece piece;
  piece.type = attribute.type;
  piece.unnamedData = unnamedData;
  piece.startVcn = *startVcn;
  piece.runs = DecodeRunList(runs->span());
  if (!piece.runs.empty()) state.summary.pieces.push_back(std::move(piece));
}

Step TakeData(const MftAttribute& attribute, DecodeState& state) {
  MftRecordSummary& s = state.summary;
  if (!s.hasName && !state.spread) return Step::kReject;
  const bool unnamed = attribute.bytes.U8(kAttrNameLength).value_or(1) == 0;
  auto startVcn = attribute.bytes.U64(kAttrStartVcn);
  // A spread file's first piece of the unnamed $DATA is its data; every
  // other piece, and every $DATA after the first of a record in one piece,
  // only holds clusters.
  const bool later = attribute.nonResident && (!startVcn || *startVcn != 0);
  if (state.dataSeen || (state.spread && (!unnamed || later))) {
    TakePiece(attribute, state, unnamed);
    return Step::kGoOn;
  }
  state.dataSeen = true;
  if (attribute.nonResident) {
    auto realSize = attribute.bytes.U64(kAttrRealSize);
    if (later || !realSize) {  // a later piece without the first
      TakePiece(attribute, state, unnamed);
      return Step::kGoOn;
    }
    s.size = *realSize;
    TakeDataFlags(attribute, s);
    auto runs = RunListBytes(attribute);
    if (runs && !runs->empty() && runs->size() < state.recordBytes)
      s.runList.assign(runs->data(), runs->data() + runs->size());
    else if (*realSize > 0)
      s.dataMarks |= kNtfsDataDamaged;
    return Step::kGoOn;
  }
  s.nodeFlags |= kFlagResident;
  auto value = ResidentValue(attribute);
  const bool usable = value && value->size() + kResidentHeadroomBytes <= state.recordBytes;
  s.size = usable ? value->size() : 0;
  // A value whose offset or length runs past the attribute (or one larger
  // than any record can hold) has no bytes to copy: the file is damaged, not
  // empty.
  if (!usable) s.dataMarks |= kNtfsDataDamaged;
  return Step::kGoOn;
}

void TakeIndexAllocation(const MftAttribute& attribute, DecodeState& state) {
  if (!attribute.nonResident) return;
  auto runs = RunListBytes(attribute);
  if (!runs || runs->size() < 3 || runs->size() > state.recordBytes) return;
  state.summary.indexRuns.push_back(DecodeRunList(runs->span()));
}

}  // namespace

std::optional<MftRecordSummary> DecodeMftRecord(ByteSpan record, bool keepSystem) {
  ByteCursor header(record);
  // A record is whole 512-byte blocks: a cut span is not one.
  if (record.size() < kUpdateSequenceStride || record.size() % kUpdateSequenceStride != 0 ||
      !header.Matches(0, "FILE"))
    return std::nullopt;
  const std::uint32_t number = header.UncheckedU32(kRecordNumber);
  if (number > kMaxMftRecordNumber) return std::nullopt;
  const std::uint64_t base = header.UncheckedU64(kRecordBaseReference) & 0xFFFFFFFFFFFFull;
  if (base > kMaxMftRecordNumber) return std::nullopt;
  DecodeState state;
  state.summary.baseRecord = static_cast<std::uint32_t>(base);
  state.spread = base != 0;
  state.keepSystem = keepSystem;
  state.recordBytes = record.size();
  state.summary.recordNumber = number;
  const std::uint16_t recordFlags = header.UncheckedU16(kRecordFlags) & 3;
  state.summary.nodeFlags = static_cast<std::uint16_t>(recordFlags << 3);
  MftAttributeWalker walker(record);
  while (auto attribute = walker.Next()) {
    Step step = Step::kGoOn;
    switch (attribute->type) {
      case kAttrStandardInformation: TakeStandardInformation(*attribute, state); break;
      case kAttrFileName: step = TakeFileName(*attribute, state); break;
      case kAttrAttributeList:
        state.summary.attributeList = state.spread = true;
        TakePiece(*attribute, state, false);
        break;
      case kAttrData: step = TakeData(*attribute, state); break;
      case kAttrIndexAllocation:
        TakeIndexAllocation(*attribute, state);
        TakePiece(*attribute, state, false);
        break;
      default: TakePiece(*attribute, state, false); break;
    }
    if (step == Step::kReject) return std::nullopt;
  }
  // A file record whose attributes break off before any $DATA lost it.
  if (walker.broken() && !state.dataSeen && !(recordFlags & kRecordDirectory))
    state.summary.dataMarks |= kNtfsDataDamaged;
  return std::move(state.summary);
}

std::vector<std::uint8_t> EncodeRunList(const std::vector<RunEntry>& runs) {
  std::vector<std::uint8_t> out;
  auto bytesOf = [](std::uint64_t v, bool isSigned) {
    unsigned n = 1;
    while (n < 8) {
      const std::int64_t s = static_cast<std::int64_t>(v);
      const bool fits = isSigned ? (s >= -(std::int64_t{1} << (8 * n - 1)) && s < (std::int64_t{1} << (8 * n - 1)))
                                 : v < (std::uint64_t{1} << (8 * n));
      if (fits) break;
      ++n;
    }
    return n;
  };
  for (const RunEntry& run : runs) {
    const unsigned lengthBytes = bytesOf(run.clusterCount, false);
    const unsigned offsetBytes = run.sparse ? 0 : bytesOf(static_cast<std::uint64_t>(run.lcnDelta), true);
    out.push_back(static_cast<std::uint8_t>(offsetBytes << 4 | lengthBytes));
    for (unsigned i = 0; i < lengthBytes; ++i) out.push_back(static_cast<std::uint8_t>(std::uint64_t{run.clusterCount} >> (8 * i)));
    for (unsigned i = 0; i < offsetBytes; ++i)
      out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(run.lcnDelta) >> (8 * i)));
  }
  out.push_back(0);
  return out;
}

void JoinDataPieces(MftRecordSummary& summary) {
  std::vector<NtfsAttributePiece> data;
  std::erase_if(summary.pieces, [&](NtfsAttributePiece& p) {
    if (!p.unnamedData) return false;
    data.push_back(std::move(p));
    return true;
  });
  if (data.empty() || (summary.nodeFlags & kFlagResident)) return;
  std::sort(data.begin(), data.end(), [](const auto& a, const auto& b) { return a.startVcn < b.startVcn; });
  std::vector<RunEntry> runs = DecodeRunList(ByteSpan(summary.runList.data(), summary.runList.size()));
  // Each piece's first run is placed from cluster 0; in the joined list it
  // moves from where the runs before it left off.
  std::int64_t at = 0;  // the last placed run's cluster
  std::uint64_t vcn = 0;
  for (const RunEntry& r : runs) {
    if (!r.sparse) at += r.lcnDelta;
    vcn += r.clusterCount;
  }
  bool broken = runs.empty();
  for (NtfsAttributePiece& piece : data) {
    if (broken || piece.startVcn != vcn) {
      broken = true;
      break;
    }
    std::int64_t pieceAt = 0;
    for (RunEntry r : piece.runs) {
      if (!r.sparse) {
        pieceAt += r.lcnDelta;
        r.lcnDelta = pieceAt - at;
        at = pieceAt;
      }
      vcn += r.clusterCount;
      runs.push_back(r);
    }
  }
  std::vector<std::uint8_t> joined = EncodeRunList(runs);
  if (broken || joined.size() >= kMaxNtfsRecordBytes) {
    summary.dataMarks |= kNtfsDataDamaged;
    return;
  }
  summary.runList = std::move(joined);
}

}  // namespace ambrel
