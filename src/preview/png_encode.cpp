#include "preview/png_encode.h"

#include <png.h>

#include <algorithm>
#include <cstring>

#include "platform/files.h"

namespace ambrel {

std::vector<std::uint8_t> EncodePng(const DecodedImage& image) {
  const std::uint64_t pixels = std::uint64_t{image.width} * image.height;
  // PNG sizes are 31-bit; a thumbnail never comes near the pixel bound.
  if (image.width == 0 || image.height == 0 || image.width > 0x7FFFFFFFu || image.height > 0x7FFFFFFFu ||
      image.pixels.size() < pixels || pixels > 0x10000000u)
    return {};
  const bool alpha = std::any_of(image.pixels.begin(), image.pixels.begin() + static_cast<std::ptrdiff_t>(pixels),
                                 [](std::uint32_t p) { return (p >> 24) != 0xFF; });
  // The pixels are 0xAARRGGBB words; spelled out as bytes, R G B [A].
  const std::size_t channels = alpha ? 4 : 3;
  std::vector<std::uint8_t> samples(pixels * channels);
  std::uint8_t* out = samples.data();
  for (std::uint64_t i = 0; i < pixels; ++i) {
    const std::uint32_t p = image.pixels[i];
    *out++ = static_cast<std::uint8_t>(p >> 16);
    *out++ = static_cast<std::uint8_t>(p >> 8);
    *out++ = static_cast<std::uint8_t>(p);
    if (alpha) *out++ = static_cast<std::uint8_t>(p >> 24);
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  // First the size libpng needs, then the bytes.
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, samples.data(), 0, nullptr) || size == 0) {
    png_image_free(&png);
    return {};
  }
  std::vector<std::uint8_t> bytes(size);
  if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, samples.data(), 0, nullptr)) {
    png_image_free(&png);
    return {};
  }
  png_image_free(&png);
  bytes.resize(size);
  return bytes;
}

bool WritePngFile(const DecodedImage& image, const std::string& path) {
  const std::vector<std::uint8_t> bytes = EncodePng(image);
  return !bytes.empty() && WriteWholeFile(path, bytes.data(), bytes.size());
}

}  // namespace ambrel
