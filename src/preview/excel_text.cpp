#include "preview/excel_text.h"

#include <algorithm>
#include <string_view>

#include "preview/compound_file.h"
#include "preview/utf16_text.h"
#include "preview/walk_result.h"

namespace ambrel {
namespace {

constexpr std::uint16_t kRecordSheet = 0x0085;
constexpr std::uint16_t kRecordSharedStrings = 0x00FC;
constexpr std::uint16_t kRecordSharedCell = 0x00FD;
constexpr std::size_t kMaxStringUnits = 512;
constexpr std::size_t kMaxStringBytes = 1024;

// `count` characters at `offset`: UTF-16 when `wide`, else ANSI bytes.
std::u16string Characters(ByteCursor c, std::uint64_t offset, std::uint64_t count, bool wide) {
  auto bytes = c.Sub(offset, count * (wide ? 2 : 1));
  if (!bytes) return {};
  if (wide) return Utf16LeToText(bytes->data(), bytes->size() / 2);
  return AnsiToUtf16(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

std::u16string DoublePercent(std::u16string text) {
  for (std::size_t i = text.find(u'%'); i != std::u16string::npos; i = text.find(u'%', i + 2))
    text.insert(i, 1, u'%');
  return text;
}

std::u16string SheetName(ByteCursor body) {
  auto count = body.U8(6);
  auto options = body.U8(7);
  if (!count || !options) return {};
  const bool wide = (*options & 1) != 0;
  const std::uint64_t fit = (body.size() - 8) / (wide ? 2 : 1);
  return Characters(body, 8, std::min<std::uint64_t>(*count, fit), wide);
}

}  // namespace

std::vector<std::u16string> ReadSharedStrings(ByteCursor stream, std::uint64_t offset) {
  std::vector<std::u16string> strings;
  const std::uint32_t unique = stream.U32(offset + 4).value_or(0);
  std::uint64_t pos = offset + 8;
  for (std::uint32_t i = 0; i < unique; ++i) {
    auto chars = stream.U16(pos);
    auto options = stream.U8(pos + 2);
    if (!chars || !options) break;
    pos += 3;
    std::uint64_t runs = 0, extended = 0;
    if (*options & 8) {
      auto n = stream.U16(pos);
      if (!n) break;
      runs = *n;
      pos += 2;
    }
    if (*options & 4) {
      auto n = stream.U32(pos);
      if (!n) break;
      extended = *n;
      pos += 4;
    }
    const bool wide = (*options & 1) != 0;
    const std::uint64_t bytes = std::uint64_t{*chars} * (wide ? 2 : 1);
    if (!stream.Contains(pos, bytes)) break;   // the string runs past the stream
    const std::uint64_t keep = wide ? std::min<std::uint64_t>(*chars, kMaxStringUnits)
                                    : std::min<std::uint64_t>(*chars, kMaxStringBytes);
    strings.push_back(DoublePercent(Characters(stream, pos, keep, wide)));
    pos += bytes + 4 * runs + extended;
  }
  return strings;
}

std::u16string WorkbookText(ByteCursor workbook) {
  std::u16string text;
  std::vector<std::u16string> shared;
  std::uint64_t pos = 0;
  while (workbook.Contains(pos, 4)) {
    const std::uint16_t id = workbook.UncheckedU16(pos);
    const std::uint16_t length = workbook.UncheckedU16(pos + 2);
    // The end record closes one substream (the globals, then each sheet);
    // the cells that name shared strings live in the sheet substreams.
    auto body = workbook.Sub(pos + 4, length);
    if (!body) break;
    if (id == kRecordSheet) {
      if (!text.empty()) text += u" | ";
      text += SheetName(*body);
    } else if (id == kRecordSharedStrings) {
      shared = ReadSharedStrings(workbook, pos + 4);
    } else if (id == kRecordSharedCell) {
      auto index = body->U32(6);
      if (index && *index < shared.size()) text += u" | " + shared[*index];
    }
    pos += 4 + std::uint64_t{length};
  }
  return text;
}

std::optional<std::u16string> ExtractExcelText(ByteSpan data) {
  CompoundFile file(data);
  if (file.Open() != kWalkOk) return std::nullopt;
  auto workbook = file.ReadStream("Workbook");
  if (!workbook) return std::nullopt;
  std::u16string text = WorkbookText(ByteCursor(workbook->data(), workbook->size()));
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace ambrel
