// Text of an Excel 97-2003 workbook: sheet names and the shared strings
// that cells refer to, walked through the BIFF records of the Workbook
// stream and joined with " | ".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel {

// Nothing when the data holds no Workbook stream or no text.
std::optional<std::u16string> ExtractExcelText(ByteSpan data);

// The text of a Workbook stream (exposed for the fuzzer and tests).
std::u16string WorkbookText(ByteCursor workbook);

// The strings of a shared-string table whose body starts at `offset` of the
// stream, each cut to 512 UTF-16 characters or 1024 bytes, "%" doubled.
std::vector<std::u16string> ReadSharedStrings(ByteCursor stream, std::uint64_t offset);

}  // namespace ambrel
