// The text shown for a found document or archive, by its type code: Word
// (36), Excel (87), Office Open XML (37 docx, 38 xlsx, 89 pptx), zip (61)
// and rar (62) listings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/byte_cursor.h"

namespace ambrel {

// Nothing for other types, for data of 1023 bytes or less, and when the
// reader of the type finds no text.
std::optional<std::u16string> ExtractDocumentText(std::uint32_t typeCode, ByteSpan data);

}  // namespace ambrel
