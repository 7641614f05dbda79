#include "preview/png_encode.h"

#include <zlib.h>

#include <algorithm>

#include "platform/files.h"

namespace ambrel {
namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

// A chunk: length, type, data, and the CRC-32 of type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char type[4], const std::uint8_t* data, std::size_t size) {
  PutU32(out, static_cast<std::uint32_t>(size));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  if (size != 0) out.insert(out.end(), data, data + size);
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, out.data() + typeAt, static_cast<uInt>(4 + size));
  PutU32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const DecodedImage& image) {
  const std::uint64_t pixels = std::uint64_t{image.width} * image.height;
  // PNG sizes are 31-bit; a chunk's length too, and zlib's counts are uLong.
  if (image.width == 0 || image.height == 0 || image.width > 0x7FFFFFFFu || image.height > 0x7FFFFFFFu ||
      image.pixels.size() < pixels || pixels > 0x10000000u)
    return {};
  const bool alpha = std::any_of(image.pixels.begin(), image.pixels.begin() + static_cast<std::ptrdiff_t>(pixels),
                                 [](std::uint32_t p) { return (p >> 24) != 0xFF; });
  const std::size_t channels = alpha ? 4 : 3;
  const std::size_t rowBytes = 1 + channels * image.width;  // filter type 0, then the samples
  if (rowBytes * image.height > 0x7FFFFFFFu) return {};
  std::vector<std::uint8_t> raw;
  raw.reserve(rowBytes * image.height);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    raw.push_back(0);
    const std::uint32_t* row = image.pixels.data() + std::size_t{y} * image.width;
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::uint32_t p = row[x];
      raw.push_back(static_cast<std::uint8_t>(p >> 16));
      raw.push_back(static_cast<std::uint8_t>(p >> 8));
      raw.push_back(static_cast<std::uint8_t>(p));
      if (alpha) raw.push_back(static_cast<std::uint8_t>(p >> 24));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    return {};
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutU32(header, image.width);
  PutU32(header, image.height);
  header.push_back(8);                          // bits per sample
  header.push_back(alpha ? 6 : 2);              // truecolour with or without alpha
  header.insert(header.end(), {0, 0, 0});       // deflate, adaptive filtering, not interlaced
  PutChunk(out, "IHDR", header.data(), header.size());
  PutChunk(out, "IDAT", packed.data(), packedSize);
  PutChunk(out, "IEND", nullptr, 0);
  return out;
}

bool WritePngFile(const DecodedImage& image, const std::string& path) {
  const std::vector<std::uint8_t> bytes = EncodePng(image);
  return !bytes.empty() && WriteWholeFile(path, bytes.data(), bytes.size());
}

}  // namespace ambrel
