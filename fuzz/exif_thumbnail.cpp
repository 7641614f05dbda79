// Fuzz target: the EXIF thumbnail search over a JPEG's first segments. The
// thumbnail it gives must lie inside the input and start as a JPEG.
#include <cstddef>
#include <cstdint>

#include "preview/exif_thumbnail.h"

using namespace ambrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteSpan thumb = ExifThumbnail(ByteSpan(data, size));
  if (!thumb.empty()) {
    if (thumb.data() < data || thumb.data() + thumb.size() > data + size) __builtin_trap();
    if (thumb.size() < 4 || thumb[0] != 0xFF || thumb[1] != 0xD8) __builtin_trap();
  }
  return 0;
}
