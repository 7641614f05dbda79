#include "preview/word_text.h"

#include <vector>

#include "preview/compound_file.h"
#include "preview/utf16_text.h"
#include "preview/walk_result.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxTextUnits = 0x20000 / 2;
constexpr std::size_t kClxOffsetInFib = 0x1A2;
constexpr std::uint32_t kCompressedPiece = 0x40000000u;
constexpr std::size_t kFibFlags = 0x0A;
constexpr std::uint16_t kWhichTableFlag = 0x0200;

struct PieceTable {
  ByteCursor positions;    // n + 1 character positions
  ByteCursor descriptors;  // n descriptors of 8 bytes
  std::size_t count = 0;
};

// The piece table inside the CLX at `offset` of the table stream: property
// blocks (0x01, u16 size) come first, then 0x02 with the u32 table size.
std::optional<PieceTable> FindPieceTable(ByteCursor table, std::uint64_t offset) {
  while (table.U8(offset) == 0x01) {
    auto size = table.U16(offset + 1);
    if (!size) return std::nullopt;
    offset += 3 + *size;
  }
  auto size = table.U32(offset + 1);
  if (!size || *size < 16) return std::nullopt;
  auto plc = table.Sub(offset + 5, *size);
  if (!plc) return std::nullopt;
  PieceTable pieces;
  pieces.count = (*size - 4) / 12;
  if (pieces.count == 0) return std::nullopt;
  pieces.positions = *plc->Sub(0, 4 * (pieces.count + 1));
  pieces.descriptors = *plc->Sub(4 * (pieces.count + 1), 8 * pieces.count);
  return pieces;
}

// Appends one piece; false when the walk ends here (data outside the
// stream, or the text buffer full).
bool AppendPiece(ByteCursor document, std::uint32_t fc, std::uint32_t chars, std::u16string& text) {
  const bool compressed = (fc & kCompressedPiece) != 0;
  const std::uint64_t start = compressed ? (fc & 0x3FFFFFFFu) / 2 : fc;
  const std::uint64_t width = compressed ? 1 : 2;
  auto bytes = document.Sub(start, std::uint64_t{chars} * width);
  if (!bytes) return false;
  const std::size_t room = kMaxTextUnits - text.size();
  const std::size_t take = chars < room ? chars : room;
  for (std::size_t i = 0; i < take; ++i) {
    text.push_back(compressed ? char16_t(bytes->UncheckedU8(i))
                              : char16_t(bytes->UncheckedU16(2 * i)));
  }
  return take == chars && text.size() < kMaxTextUnits;
}

}  // namespace

std::u16string CleanWordText(std::u16string_view raw) {
  std::u16string text;
  text.reserve(raw.size() + raw.size() / 8);
  bool afterReturn = false;
  for (char16_t unit : raw) {
    if (unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r') unit = u' ';
    if (unit == u'\r') {
      if (!afterReturn) text += u"\r\n";   // a run of paragraph marks is one break
      afterReturn = true;
      continue;
    }
    afterReturn = false;
    text.push_back(unit);
  }
  return text;
}

std::optional<std::u16string> ExtractWordText(ByteSpan data) {
  CompoundFile file(data);
  if (file.Open() != kWalkOk) return std::nullopt;
  auto document = file.ReadStream("WordDocument");
  if (!document) return std::nullopt;
  ByteCursor doc(document->data(), document->size());
  // The header says which table stream is current (a fast-saved document
  // may keep a stale one beside it); without it, either one that exists.
  const bool oneTable = (doc.U16(kFibFlags).value_or(0) & kWhichTableFlag) != 0;
  auto table = file.ReadStream(oneTable ? "1Table" : "0Table");
  if (!table) table = file.ReadStream(oneTable ? "0Table" : "1Table");
  if (!table) return std::nullopt;
  auto clx = doc.U32(kClxOffsetInFib);
  if (!clx) return std::nullopt;
  auto pieces = FindPieceTable(ByteCursor(table->data(), table->size()), *clx);
  if (!pieces) return std::nullopt;
  std::u16string raw;
  for (std::size_t i = 0; i < pieces->count; ++i) {
    const std::uint32_t first = pieces->positions.UncheckedU32(4 * i);
    const std::uint32_t limit = pieces->positions.UncheckedU32(4 * (i + 1));
    const std::uint32_t fc = pieces->descriptors.UncheckedU32(8 * i + 2);
    if (limit <= first) continue;
    if (!AppendPiece(doc, fc, limit - first, raw)) break;
  }
  if (raw.empty()) return std::nullopt;
  RepairUtf16(raw);
  return CleanWordText(raw);
}

}  // namespace ambrel
