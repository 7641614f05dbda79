// Pictures made for the decoder tests.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

namespace ambrel::test {

inline std::uint32_t Crc(const std::uint8_t* p, std::size_t n) {
  return static_cast<std::uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

inline void Chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& body) {
  const std::uint32_t n = static_cast<std::uint32_t>(body.size());
  for (int s = 24; s >= 0; s -= 8) png.push_back(std::uint8_t(n >> s));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), body.begin(), body.end());
  const std::uint32_t c = Crc(png.data() + start, png.size() - start);
  for (int s = 24; s >= 0; s -= 8) png.push_back(std::uint8_t(c >> s));
}

// A PNG of w x h grey pixels whose IDAT is a few KB of deflated zeros.
inline std::vector<std::uint8_t> BombPng(std::uint32_t w, std::uint32_t h, std::size_t rows) {
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<std::uint8_t> ihdr;
  for (std::uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) ihdr.push_back(std::uint8_t(v >> s));
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});  // 8-bit grey
  Chunk(png, "IHDR", ihdr);
  std::vector<std::uint8_t> raw(rows * (std::size_t(w) + 1), 0);
  uLongf packed = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> idat(packed);
  compress2(idat.data(), &packed, raw.data(), static_cast<uLong>(raw.size()), 9);
  idat.resize(packed);
  Chunk(png, "IDAT", idat);
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace ambrel::test
