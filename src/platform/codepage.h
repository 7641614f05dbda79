// The legacy "ANSI code page" (GBK by default) through iconv: texts of the
// log and of old on-disk names that are not Unicode. Inside the program every
// text is UTF-8, so "wide" here means UTF-8. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace ambrel {

// Sets the process's ANSI code page by iconv name ("GBK", "CP1252", ...).
// Call on the main thread before workers start. False when iconv does not
// know the name (the code page is then unchanged).
bool SetAnsiCodePage(const std::string& name);
std::string AnsiCodePage();

// ANSI bytes to UTF-8; bytes that do not decode become U+FFFD.
std::string ToWide(std::string_view ansi);
// UTF-8 to ANSI bytes; characters the code page lacks become "?".
std::string ToAnsi(std::string_view utf8);
// Same, with an explicit code page (e.g. the OEM page of FAT short names).
std::string ToWideFrom(std::string_view bytes, const char* codepage);
std::string ToAnsiIn(std::string_view utf8, const char* codepage);

}  // namespace ambrel
