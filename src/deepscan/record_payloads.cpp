#include "deepscan/record_payloads.h"

#include <array>
#include <cstring>
#include <vector>

#include "common/text.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_record.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxRunListBytes = 1023;

struct NamePick {
  bool done = false;
};

// One $FILE_NAME: its parent always counts; its name only in the POSIX,
// Win32 or Win32+DOS namespace and while no name was taken.
void TakeFileName(const MftAttribute& attribute, FileRecordSummary& s, NamePick& pick) {
  auto value = ResidentValue(attribute);
  if (!value) return;
  if (auto parent = value->U32(kFileNameParent)) s.parentRecord = *parent;
  auto space = value->U8(kFileNameSpace);
  auto length = value->U8(kFileNameLength);
  if (!space || !length || *space == kNameSpaceDos || *space >= 4) return;
  if (!s.name.empty()) return;
  auto text = value->Sub(kFileNameText, std::uint64_t(*length) * 2);
  if (!text) return;
  std::u16string name;
  for (std::size_t k = 0; k < *length; ++k) {
    // The length field bounds the name; a NUL inside it is kept visible.
    const char16_t ch = text->UncheckedU16(2 * k);
    name.push_back(ch == 0 ? static_cast<char16_t>(kVisibleNul) : ch);
  }
  s.name = std::move(name);
  if (!s.name.empty()) pick.done = true;
}

void TakeResidentData(const MftAttribute& attribute, FileRecordSummary& s, std::uint32_t recordBytes) {
  s.flags |= kSummaryResidentData;
  const std::uint32_t length = attribute.bytes.U32(kAttrValueLength).value_or(0);
  const std::uint16_t offset = attribute.bytes.U16(kAttrValueOffset).value_or(0xFFFF);
  s.dataSize = (length == 0 || length >= recordBytes || offset >= recordBytes) ? 0 : length;
}

void TakeNonResidentData(const MftAttribute& attribute, FileRecordSummary& s) {
  s.dataSize = attribute.bytes.U64(kAttrRealSize).value_or(0);
  s.allocatedSize = attribute.bytes.U64(0x28).value_or(0);
  if (auto runs = RunListBytes(attribute); runs && runs->size() >= 1 &&
                                           runs->size() <= kMaxRunListBytes)
    s.runs.assign(runs->data(), runs->data() + runs->size());
  if (s.dataSize > s.allocatedSize && (s.dataSize >> 32) != 0) s.dataSize &= 0xFFFFFFFFull;
}

}  // namespace

std::optional<FileRecordSummary> SummariseFileRecord(ByteSpan record) {
  // The record's size is what its own header states (no boot sector is
  // known here); a record torn by a cut write is still summarised, and the
  // rebuild that reads it again marks it.
  const std::uint32_t recordBytes = StatedRecordBytes(record);
  if (recordBytes == 0 || record.size() < recordBytes) return std::nullopt;
  std::vector<std::uint8_t> copy(record.data(), record.data() + recordBytes);
  ApplyRecordFixups(copy);
  const ByteCursor c(copy.data(), copy.size());
  if (!c.Matches(0, "FILE")) return std::nullopt;
  FileRecordSummary s;
  s.flags = static_cast<std::uint8_t>(c.UncheckedU16(kRecordFlags) & 3);
  s.recordNumber = c.UncheckedU32(kRecordNumber);
  bool standard = false, fileName = false, data = false;
  NamePick pick;
  MftAttributeWalker walker(c.span());
  while (auto attribute = walker.Next()) {
    if (attribute->type == kAttrStandardInformation) standard = true;
    if (attribute->type == kAttrIndexAllocation) s.flags |= kSummaryHasIndexAllocation;
    if (attribute->type == kAttrFileName) {
      fileName = true;
      if (!pick.done) TakeFileName(*attribute, s, pick);
    }
    if (attribute->type == kAttrData && !data) {
      data = true;
      if (attribute->nonResident)
        TakeNonResidentData(*attribute, s);
      else
        TakeResidentData(*attribute, s, recordBytes);
    }
  }
  if (!standard || !fileName || s.name.empty()) return std::nullopt;
  return s;
}

std::optional<std::uint32_t> IndexedDirectoryOf(ByteSpan fromRecord) {
  const ByteCursor c(fromRecord);
  auto firstEntry = c.U32(0x18);
  if (!firstEntry) return std::nullopt;
  std::uint64_t at = 0x18 + std::uint64_t(*firstEntry);
  // Each step moves forward by a non-zero length, so the walk ends.
  while (c.Contains(at, 82)) {
    const std::uint16_t flags = c.UncheckedU16(at + 12);
    if (flags != 0 && flags != 1) return std::nullopt;
    const std::uint8_t space = c.UncheckedU8(at + 81);
    if ((space == 1 || space == 3) && c.UncheckedU8(at + 80) != 0) return c.UncheckedU32(at + 16);
    const std::uint16_t length = c.UncheckedU16(at + 8);
    if (length == 0) return std::nullopt;
    at += length;
  }
  return std::nullopt;
}

std::vector<std::uint64_t> GptEntryStarts(ByteSpan entries) {
  const ByteCursor c(entries);
  std::vector<std::uint64_t> starts;
  for (std::uint64_t i = 0; i < 16; ++i) {
    auto start = c.U64(i * 128 + 32);
    if (!start) break;
    if (*start != 0) starts.push_back(*start);
  }
  return starts;
}

}  // namespace ambrel
