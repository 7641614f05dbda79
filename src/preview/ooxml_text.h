// Text of Office Open XML documents (docx, xlsx, pptx): the XML member of
// the document type, read through minizip from memory, markup stripped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/byte_cursor.h"

namespace ambrel {

// typeCode 37 docx, 38 xlsx, 89 pptx. Nothing when the archive is not
// complete or the member is missing or holds no text.
std::optional<std::u16string> ExtractOoxmlText(std::uint32_t typeCode, ByteSpan data);

// The runs of text between ">" and the next "<" that are at least two
// bytes long, over at most the first 0xA0000 bytes of `xml`.
std::string StripMarkup(std::string_view xml);

}  // namespace ambrel
