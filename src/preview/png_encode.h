// A decoded picture written as a PNG file (the thumbnail `show --thumbnail`
// saves): 8-bit truecolour, with an alpha channel only when some pixel is
// not opaque, written by libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/image_decoder.h"

namespace ambrel {

// The PNG bytes of `image`; empty when it holds no picture (no width or
// height, fewer pixels than they state, or a size PNG cannot carry).
std::vector<std::uint8_t> EncodePng(const DecodedImage& image);

// Writes EncodePng(image) to `path`; false when there is no picture or the
// file cannot be written.
bool WritePngFile(const DecodedImage& image, const std::string& path);

}  // namespace ambrel
