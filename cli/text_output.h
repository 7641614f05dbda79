// Texts from the disk made fit for a terminal and for JSON. Names read from
// a file system may hold control characters, unpaired UTF-16 surrogates
// (already U+FFFD after the reader's conversion) or bytes of a legacy code
// page that are not UTF-8 at all.
#pragma once

#include <string>
#include <string_view>

namespace ambrel::cli {

// The text as valid UTF-8: every byte that does not start a well-formed
// sequence (overlong forms, encoded surrogates and values above U+10FFFF
// included) becomes U+FFFD.
std::string ValidUtf8(std::string_view text);

// ValidUtf8, then control characters written as escapes: "\n", "\t", "\r",
// "\x1b" and the like for C0 and DEL, "\u009b" for C1, and "\\" for the
// backslash itself so that an escape cannot be forged by a name. With
// `keepNewlines`, "\n" stays a line break (the program's own messages).
std::string PrintableText(std::string_view text, bool keepNewlines = false);

}  // namespace ambrel::cli
