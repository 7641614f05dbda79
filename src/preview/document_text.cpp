#include "preview/document_text.h"

#include "preview/archive_listing.h"
#include "preview/excel_text.h"
#include "preview/ooxml_text.h"
#include "preview/word_text.h"

namespace ambrel {

std::optional<std::u16string> ExtractDocumentText(std::uint32_t typeCode, ByteSpan data) {
  if (data.size() <= 1023) return std::nullopt;
  switch (typeCode) {
    case 36: return ExtractWordText(data);
    case 87: return ExtractExcelText(data);
    case 37:
    case 38:
    case 89: return ExtractOoxmlText(typeCode, data);
    case 61: return ListZip(data);
    case 62: return ListRar(data);
    default: return std::nullopt;
  }
}

}  // namespace ambrel
