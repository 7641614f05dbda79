#include "common/text.h"

#include <cstdio>
#include <vector>

namespace ambrel {
namespace {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

template <typename UnitAt>
std::string DecodeUtf16(std::size_t units, UnitAt unit_at) {
  std::string out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    char32_t u = unit_at(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      char32_t low = unit_at(i + 1);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

// Decodes one UTF-8 sequence at text[i]; returns its length (at least 1).
std::size_t DecodeOne(std::string_view text, std::size_t i, char32_t& cp) {
  auto b = static_cast<unsigned char>(text[i]);
  std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > text.size()) {
    cp = 0xFFFD;
    return 1;
  }
  cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (std::size_t k = 1; k < len; ++k) {
    auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) {
      cp = 0xFFFD;
      return 1;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  return len;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  return DecodeUtf16(text.size(), [&](std::size_t i) { return char32_t(text[i]); });
}

std::string Utf16LeBytesToUtf8(const std::uint8_t* bytes, std::size_t units) {
  return DecodeUtf16(units, [&](std::size_t i) {
    return char32_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  });
}

std::string NameUtf16ToUtf8(std::u16string_view text) {
  return DecodeUtf16(text.size(), [&](std::size_t i) { return text[i] == 0 ? kVisibleNul : char32_t(text[i]); });
}

std::string NameUtf16LeBytesToUtf8(const std::uint8_t* bytes, std::size_t units) {
  return DecodeUtf16(units, [&](std::size_t i) {
    const char32_t u = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    return u == 0 ? kVisibleNul : u;
  });
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp;
    i += DecodeOne(text, i, cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += IsContinuation(c) ? 0 : 1;
  return n;
}

std::string Utf8Prefix(std::string_view text, std::size_t chars) {
  std::size_t i = 0;
  for (std::size_t n = 0; i < text.size(); ++i) {
    if (!IsContinuation(text[i]) && n++ == chars) break;
  }
  return std::string(text.substr(0, i));
}

std::string Utf8CutBytes(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return std::string(text);
  std::size_t end = bytes;
  while (end > 0 && IsContinuation(text[end])) --end;
  return std::string(text.substr(0, end));
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace ambrel
