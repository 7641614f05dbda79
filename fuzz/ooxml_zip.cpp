// Fuzzes the zip record walk, the carving size, the zip listing and the
// Office Open XML text of the three document types.
#include <cstddef>
#include <cstdint>

#include "preview/archive_listing.h"
#include "preview/ooxml_text.h"
#include "preview/zip_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  ByteSpan bytes(data, size);
  ZipArchiveSize(bytes);
  ListZip(bytes);
  for (std::uint32_t type : {37u, 38u, 89u}) ExtractOoxmlText(type, bytes);
  StripMarkup(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
