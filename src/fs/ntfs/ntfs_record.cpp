#include "catalog/folder_names.h"
#include "fs/ntfs/ntfs_record.h"

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

Step TakeData(const MftAttribute& attribute, DecodeState& state) {
  MftRecordSummary& s = state.summary;
  if (!s.hasName) return Step::kReject;
  if (state.dataSeen) return Step::kGoOn;
  state.dataSeen = true;
  if (attribute.nonResident) {
    auto startVcn = attribute.bytes.U64(kAttrStartVcn);
    auto realSize = attribute.bytes.U64(kAttrRealSize);
    if (!startVcn || *startVcn != 0 || !realSize) return Step::kGoOn;  // extension piece
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
  DecodeState state;
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
      case kAttrData: step = TakeData(*attribute, state); break;
      case kAttrIndexAllocation: TakeIndexAllocation(*attribute, state); break;
      default: break;
    }
    if (step == Step::kReject) return std::nullopt;
  }
  // A file record whose attributes break off before any $DATA lost it.
  if (walker.broken() && !state.dataSeen && !(recordFlags & kRecordDirectory))
    state.summary.dataMarks |= kNtfsDataDamaged;
  return std::move(state.summary);
}

}  // namespace ambrel
