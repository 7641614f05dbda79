// Text helpers. Inside the core every text is UTF-8 in std::string; on-disk
// names (UTF-16LE in NTFS and exFAT, OEM bytes in FAT short names) are
// converted at the reader, and the legacy code page is reached through
// platform/codepage.h.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ambrel {

// UTF-16 code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// `units` little-endian UTF-16 code units starting at `bytes` (unaligned ok).
std::string Utf16LeBytesToUtf8(const std::uint8_t* bytes, std::size_t units);
// The same for a name read from a volume. Names in the catalogue end at a NUL,
// so a NUL stored inside an on-disk name (NTFS and exFAT allow it as a code
// unit) becomes U+2400 SYMBOL FOR NULL: the rest of the name is kept and the
// NUL stays visible.
inline constexpr char32_t kVisibleNul = 0x2400;
std::string NameUtf16ToUtf8(std::u16string_view text);
std::string NameUtf16LeBytesToUtf8(const std::uint8_t* bytes, std::size_t units);
// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// Number of characters (code points) of a UTF-8 text.
std::size_t Utf8Length(std::string_view text);
// The first `chars` characters of a UTF-8 text, never splitting a character.
std::string Utf8Prefix(std::string_view text, std::size_t chars);
// The longest prefix of at most `bytes` bytes that ends on a character boundary.
std::string Utf8CutBytes(std::string_view text, std::size_t bytes);

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// ASCII upper / lower case (other bytes unchanged).
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
// Blanks and tabs removed at both ends.
std::string_view TrimBlanks(std::string_view text);

}  // namespace ambrel
