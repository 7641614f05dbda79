// Text of a Word 97-2003 document: the pieces of its piece table, read from
// the WordDocument stream, cleaned for display.
#pragma once

#include <optional>
#include <string>

#include "common/byte_cursor.h"

namespace ambrel {

// Nothing when the data is not a compound file with a WordDocument stream
// and a readable piece table, or when no character was collected.
std::optional<std::u16string> ExtractWordText(ByteSpan data);

// Control characters other than tab, line feed and carriage return become
// spaces; runs of carriage returns become one; each carriage return then
// becomes carriage return + line feed.
std::u16string CleanWordText(std::u16string_view raw);

}  // namespace ambrel
