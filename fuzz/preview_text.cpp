// Fuzzes the preview's text tests, its text decoding and the hex dump: any
// bytes give a text within the cap and a dump of the exact line layout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "preview/preview_content.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  const ByteSpan bytes(data, size);
  LooksLikeAnsiText(bytes);
  LooksLikeUtf16Text(bytes);
  IsValidShortUtf8(bytes);
  if (DecodeTextFile(bytes).size() * 2 > kPreviewTextBytes) std::abort();
  // The dump: a 78-character header, 78 per full line, the last line 76.
  const std::string dump = HexDump(bytes);
  const std::size_t shown = size < 0x10000 ? size : 0x10000;
  const std::size_t lines = (shown + 15) / 16;
  if (dump.size() != 78 + (lines == 0 ? 0 : lines * 78 - 2)) std::abort();
  // The content choice over the text types and the plain-text tests (the
  // document walkers have their own targets).
  if (size > 0) {
    static const std::uint32_t kTypes[] = {60, 79, 161, 165, 171, 238, 46};
    const std::uint32_t type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
    const PreviewContent content =
        BuildPreviewContent(type, std::vector<std::uint8_t>(data, data + size), size, type == 238);
    if (content.text.size() * 2 > kPreviewTextBytes) std::abort();
  }
  return 0;
}
