// UTF-16 repairs for text pulled out of untrusted documents: the result is
// always well-formed UTF-16 whatever the stored code units were.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ambrel {

// Replaces every unpaired surrogate by U+FFFD.
void RepairUtf16(std::u16string& text);
// At most `units` code units, never ending between the halves of a pair.
std::u16string_view CutUtf16(std::u16string_view text, std::size_t units);
// UTF-8 (possibly invalid) as repaired UTF-16.
std::u16string Utf8ToValidUtf16(std::string_view utf8);
// Legacy 8-bit text in the ANSI code page, as UTF-16.
std::u16string AnsiToUtf16(std::string_view bytes);
// Little-endian UTF-16 bytes (`units` code units) as repaired UTF-16.
std::u16string Utf16LeToText(const unsigned char* bytes, std::size_t units);

}  // namespace ambrel
