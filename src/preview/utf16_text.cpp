#include "preview/utf16_text.h"

#include "common/text.h"
#include "platform/codepage.h"

namespace ambrel {
namespace {

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void RepairUtf16(std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
      ++i;
    } else if (IsHigh(text[i]) || IsLow(text[i])) {
      text[i] = u'\uFFFD';
    }
  }
}

std::u16string_view CutUtf16(std::u16string_view text, std::size_t units) {
  if (text.size() <= units) return text;
  if (units > 0 && IsHigh(text[units - 1]) && IsLow(text[units])) --units;
  return text.substr(0, units);
}

std::u16string Utf8ToValidUtf16(std::string_view utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  RepairUtf16(text);
  return text;
}

std::u16string AnsiToUtf16(std::string_view bytes) { return Utf8ToValidUtf16(ToWide(bytes)); }

std::u16string Utf16LeToText(const unsigned char* bytes, std::size_t units) {
  std::u16string text(units, u'\0');
  for (std::size_t i = 0; i < units; ++i)
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  RepairUtf16(text);
  return text;
}

}  // namespace ambrel
