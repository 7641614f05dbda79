// The picture decoding the preview asks of its host. The core decodes no
// pixels: the desktop and the command line hand in an implementation (the
// Qt image readers and the codec libraries). Found bytes are untrusted, so
// an implementation must bound the memory and time one picture may take.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel {

struct DecodedImage {
  std::uint32_t sourceWidth = 0, sourceHeight = 0;  // the picture as stored
  std::uint32_t width = 0, height = 0;              // of `pixels`
  std::vector<std::uint32_t> pixels;                // 0xAARRGGBB, row by row
  bool damaged = false;  // the data stopped decoding part way: only the decoded part is shown
};

class ImageDecoder {
 public:
  virtual ~ImageDecoder() = default;
  // The picture in `data` scaled to fit `maxSide` x `maxSide` (its aspect
  // kept; never enlarged; 0: its own size). Nothing when the bytes are not
  // a picture the decoder reads, or it would take more than its limits.
  // Called from the preview loader's thread.
  virtual std::optional<DecodedImage> Decode(ByteSpan data, std::uint32_t maxSide) = 0;
};

}  // namespace ambrel
