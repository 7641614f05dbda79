#include "preview/preview_content.h"

#include <algorithm>
#include <cstring>

#include "catalog/file_types.h"
#include "catalog/found_file_node.h"
#include "common/text.h"
#include "platform/codepage.h"
#include "preview/document_text.h"
#include "preview/text_encoding.h"

namespace ambrel {

namespace {

constexpr std::size_t kTextUnits = kPreviewTextBytes / 2;
constexpr std::size_t kTextTestBytes = 1024;
constexpr std::size_t kUtf16TestUnits = 2048;
constexpr std::size_t kHexBytes = 0x10000;
constexpr std::size_t kHexLine = 78;
constexpr std::uint64_t kUtf16MinSize = 3, kUtf16MaxSize = 1279;

// Enough input for kTextUnits characters whatever the encoding.
constexpr std::size_t kTextInputBytes = kTextUnits * 4;

bool IsPlainByte(std::uint8_t b) { return (b >= 0x20 && b <= 0x7E) || b == '\t' || b == '\n' || b == '\r'; }
bool IsDoubleByteHalf(std::uint8_t b) { return b >= 0xA1 && b <= 0xFE; }

// Cuts a text to the preview's cap without splitting a surrogate pair.
void CapText(std::u16string& text) {
  if (text.size() <= kTextUnits) return;
  std::size_t keep = kTextUnits;
  if (text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) --keep;
  text.resize(keep);
}

std::u16string FromUtf16Le(ByteSpan bytes) {
  std::u16string text;
  const std::size_t units = std::min(bytes.size() / 2, kTextUnits);
  text.resize(units);
  for (std::size_t i = 0; i < units; ++i)
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  CapText(text);
  return text;
}

std::u16string FromUtf16Be(ByteSpan bytes) {
  std::u16string text;
  const std::size_t units = std::min(bytes.size() / 2, kTextUnits);
  text.resize(units);
  for (std::size_t i = 0; i < units; ++i)
    text[i] = static_cast<char16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
  CapText(text);
  return text;
}

// A text without a mark that is not UTF-8: in the encoding the detector and
// the ANSI code page agree on (GBK unless set otherwise).
std::u16string FromAnsi(ByteSpan bytes) {
  const std::size_t n = std::min(bytes.size(), kTextInputBytes);
  const std::string_view input(reinterpret_cast<const char*>(bytes.data()), n);
  const std::string encoding = ChooseTextEncoding(bytes.first(n));
  std::string utf8 = ToWideFrom(input, encoding.c_str());
  if (utf8.empty() && n > 0) utf8 = ToWide(input);
  std::u16string text = Utf8ToUtf16(utf8);
  CapText(text);
  return text;
}

std::u16string FromUtf8(ByteSpan bytes) {
  std::size_t n = std::min(bytes.size(), kTextInputBytes);
  // Never end the slice inside a sequence: it would show as a stray U+FFFD.
  if (n < bytes.size())
    while (n > 0 && (bytes[n] & 0xC0) == 0x80) --n;
  std::u16string text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), n));
  CapText(text);
  return text;
}

// The blocks of letters, punctuation and ideographs that real texts are
// made of; code units of binary data mostly fall outside them.
bool IsCommonTextUnit(unsigned u) {
  static constexpr unsigned kBlocks[][2] = {
      {0x00A0, 0x017F},  // Latin-1, Latin Extended-A
      {0x0370, 0x04FF},  // Greek, Cyrillic
      {0x05D0, 0x06FF},  // Hebrew letters, Arabic
      {0x0E00, 0x0E7F},  // Thai
      {0x2000, 0x206F},  // general punctuation
      {0x3000, 0x30FF},  // CJK punctuation, kana
      {0x4E00, 0x9FFF},  // CJK ideographs
      {0xAC00, 0xD7AF},  // Hangul
      {0xFF00, 0xFFEF},  // full-width forms
  };
  for (const auto& b : kBlocks)
    if (u >= b[0] && u <= b[1]) return true;
  return false;
}

char HexDigit(unsigned v) { return "0123456789ABCDEF"[v & 15]; }

}  // namespace

std::uint32_t PreviewTypeCode(std::uint32_t typeCode, std::string_view name) {
  if (typeCode == kTypeUnknown && IsTextPreviewName(name)) return 165;
  return typeCode;
}

bool IsPreviewImageType(std::uint32_t t) { return t == 44 || t == 45 || t == 46 || t == 48 || t == 51 || t == 162; }

bool IsPreviewTextType(std::uint32_t t) { return t == 79 || t == 161 || t == 163 || (t >= 165 && t <= 171); }

namespace {
constexpr std::uint8_t kVideoTypes[] = {64, 66, 67, 68, 71, 72, 73, 82, 86, 88, 108, 109, 113, 114, 143};
}  // namespace

bool IsPreviewMediaType(std::uint32_t t) {
  static constexpr std::uint8_t kRaws[] = {49, 50, 52, 92, 98, 99, 100, 101, 102, 103, 104, 144};
  return std::find(std::begin(kRaws), std::end(kRaws), t) != std::end(kRaws) || IsPreviewVideoType(t);
}

bool IsPreviewVideoType(std::uint32_t t) {
  return std::find(std::begin(kVideoTypes), std::end(kVideoTypes), t) != std::end(kVideoTypes);
}

bool HasHeifSignature(ByteSpan d) {
  if (d.size() < 12 || std::memcmp(d.data() + 4, "ftyp", 4) != 0) return false;
  for (const char* brand : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif"})
    if (std::memcmp(d.data() + 8, brand, 4) == 0) return true;
  return false;
}

bool HasImageSignature(ByteSpan d) {
  auto starts = [&](std::initializer_list<std::uint8_t> sig) {
    return d.size() >= sig.size() && std::equal(sig.begin(), sig.end(), d.begin());
  };
  return starts({0xFF, 0xD8}) || starts({'B', 'M'}) || starts({'G', 'I', 'F', '8'}) ||
         starts({0x89, 'P', 'N', 'G'}) || starts({'I', 'I', '*'}) || starts({'M', 'M', 0x00, '*'}) ||
         starts({0x00, 0x00, 0x01, 0x00});
}

bool LooksLikeAnsiText(ByteSpan data) {
  const std::size_t n = std::min(data.size(), kTextTestBytes);
  std::size_t i = 0;
  while (i < n && IsDoubleByteHalf(data[i])) ++i;  // the tail of a character cut by the file's start
  while (i < n) {
    const std::uint8_t b = data[i];
    if (IsPlainByte(b)) {
      ++i;
    } else if (IsDoubleByteHalf(b) && i + 1 < n && IsDoubleByteHalf(data[i + 1])) {
      i += 2;
    } else if (IsDoubleByteHalf(b) && (i & 0x1FF) == 0x1FF) {
      ++i;  // a character split by the end of a sector-sized block
    } else {
      return false;
    }
  }
  return true;
}

bool LooksLikeUtf16Text(ByteSpan data) {
  const std::size_t units = std::min(data.size() / 2, kUtf16TestUnits);
  if (units == 0) return false;
  std::size_t odd = 0;
  for (std::size_t i = 0; i < units; ++i) {
    const unsigned u = data[2 * i] | (data[2 * i + 1] << 8);
    const bool plain = u < 0x80 ? IsPlainByte(static_cast<std::uint8_t>(u)) : IsCommonTextUnit(u);
    if (!plain) ++odd;
  }
  return odd * 10 <= units;
}

bool IsValidShortUtf8(ByteSpan data) {
  std::size_t i = 0;
  const std::size_t n = data.size();
  while (i < n) {
    const std::uint8_t b = data[i];
    std::size_t follow;
    if (b < 0x80)
      follow = 0;
    else if (b >= 0xC0 && b <= 0xDF)
      follow = 1;
    else if (b >= 0xE0 && b <= 0xEF)
      follow = 2;
    else
      return false;
    for (std::size_t k = 1; k <= follow; ++k) {
      if (i + k >= n) return true;  // cut by the end of the data
      if ((data[i + k] & 0xC0) != 0x80) return false;
    }
    i += follow + 1;
  }
  return true;
}

std::u16string DecodeTextFile(ByteSpan d) {
  if (d.size() >= 3 && d[0] == 0xEF && d[1] == 0xBB && d[2] == 0xBF) return FromUtf8(d.subspan(3));
  // FF FE marks little-endian UTF-16, FE FF big-endian.
  if (d.size() >= 2 && d[0] == 0xFF && d[1] == 0xFE) return FromUtf16Le(d.subspan(2));
  if (d.size() >= 2 && d[0] == 0xFE && d[1] == 0xFF) return FromUtf16Be(d.subspan(2));
  if (IsValidShortUtf8(d)) return FromUtf8(d);
  return FromAnsi(d);
}

PreviewContent BuildPreviewContent(std::uint32_t typeCode, std::vector<std::uint8_t> data, std::uint64_t fileSize,
                                   bool forceHex) {
  PreviewContent content;
  const ByteSpan bytes(data.data(), data.size());
  if (!forceHex) {
    if (IsPreviewImageType(typeCode) || IsPreviewMediaType(typeCode) ||
        (typeCode == kTypeUnknown && HasHeifSignature(bytes))) {
      content.kind = PreviewKind::kImage;
    } else if (std::optional<std::u16string> doc = ExtractDocumentText(typeCode, bytes)) {
      content.kind = PreviewKind::kText;
      content.text = std::move(*doc);
    } else if (IsPreviewTextType(typeCode)) {
      content.kind = PreviewKind::kText;
      content.text = DecodeTextFile(bytes);
    } else if (fileSize < kPlainTextLimit && LooksLikeAnsiText(bytes)) {
      content.kind = PreviewKind::kText;
      content.text = FromAnsi(bytes);
    } else if (fileSize >= kUtf16MinSize && fileSize <= kUtf16MaxSize && data.size() >= 2 && data[0] == 0xFF &&
               data[1] == 0xFE && LooksLikeUtf16Text(bytes.subspan(2))) {
      content.kind = PreviewKind::kText;
      content.text = FromUtf16Le(bytes.subspan(2));
    }
  }
  CapText(content.text);
  content.data = std::move(data);
  return content;
}

std::string HexDump(ByteSpan data) {
  const std::size_t n = std::min(data.size(), kHexBytes);
  std::string out = "Offset  0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F";
  out.append(21, ' ');
  out += "\r\n";
  const std::size_t lines = (n + 15) / 16;
  out.reserve(out.size() + lines * kHexLine);
  for (std::size_t line = 0; line < lines; ++line) {
    char text[kHexLine];
    std::memset(text, ' ', sizeof text);
    for (int k = 0; k < 6; ++k) text[5 - k] = HexDigit(static_cast<unsigned>(line >> (4 * k)));
    const std::size_t first = line * 16;
    const std::size_t count = std::min<std::size_t>(16, n - first);
    for (std::size_t e = 0; e < count; ++e) {
      const std::uint8_t b = data[first + e];
      const std::size_t at = e < 8 ? 7 + 3 * e : 8 + 3 * e;
      text[at] = HexDigit(b >> 4);
      text[at + 1] = HexDigit(b);
      text[60 + e] = (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
    }
    text[76] = '\r';
    text[77] = '\n';
    out.append(text, line + 1 == lines ? 76 : kHexLine);
  }
  return out;
}

}  // namespace ambrel
