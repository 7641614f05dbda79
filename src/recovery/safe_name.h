// File names from disk made safe for the target folder. Names come from
// untrusted on-disk entries: a name must never lead outside the folder it
// is written into. Pure functions; any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ambrel {

// One path component: '/', '\', NUL and control characters become '_';
// "", "." and ".." become "_". Anything else is kept.
std::string SafeComponent(std::string_view name);

// File systems take at most this many bytes in one name.
inline constexpr std::size_t kMaxNameBytes = 255;

// A name of at most `maxBytes` bytes: longer ones keep their extension (up
// to 16 bytes after the last dot) and as much of the stem as fits, cut at a
// character boundary, followed by "~" and 8 hex digits of a hash of the
// whole name, so that two long names sharing their start stay apart.
std::string FitNameLength(std::string_view name, std::size_t maxBytes = kMaxNameBytes);

// A character that Windows file systems refuse in names (and that the
// retry after a failed create replaces): control characters, " * / : < > ?
// \ |, and anything above '~' outside U+4E00..U+9FA5.
bool IsInvalidNameChar(char32_t c);

// Replaces every invalid character of `name` by a digit '0'..'9' from
// `digit` (random in the program, fixed in tests). A character outside the
// basic plane counts as two.
std::string ReplaceInvalidNameChars(std::string_view name, const std::function<char()>& digit);
std::string ReplaceInvalidNameChars(std::string_view name);  // random digits

// The last component of a path ("" for none) and the rest.
std::string LastComponent(const std::string& path);
std::string ParentPath(const std::string& path);

// "name (2).ext", "name (3).ext", ... : the first variant for which
// `taken` is false (at most 10000 tries; then the name itself).
std::string UniqueVariant(const std::string& path, const std::function<bool(const std::string&)>& taken);

}  // namespace ambrel
