#include "fs/ntfs/lznt1.h"

#include <algorithm>
#include <cstring>

namespace ambrel {

namespace {

constexpr std::uint16_t kChunkCompressed = 0x8000;
constexpr std::uint16_t kChunkSizeMask = 0x0FFF;

// Bits of a back-reference token that hold the offset, for a token met
// `pos` bytes into the chunk's output: 4 up to 16 bytes, one more each
// time the position doubles, at most 12.
unsigned OffsetBits(std::size_t pos) {
  unsigned bits = 4;
  for (std::size_t p = pos - 1; p >= 0x10 && bits < 12; p >>= 1) ++bits;
  return bits;
}

// One compressed chunk into `out` (at most 4096 bytes); the bytes produced,
// or nothing for a back reference before the chunk start.
std::optional<std::size_t> DecodeTokens(ByteCursor chunk, std::span<std::uint8_t> out) {
  const std::size_t limit = std::min(out.size(), kLznt1ChunkBytes);
  std::size_t in = 0, pos = 0;
  while (in < chunk.size() && pos < limit) {
    const std::uint8_t flags = chunk.UncheckedU8(in++);
    for (int bit = 0; bit < 8 && in < chunk.size() && pos < limit; ++bit) {
      if (!(flags & (1u << bit))) {
        out[pos++] = chunk.UncheckedU8(in++);
        continue;
      }
      auto token = chunk.U16(in);
      if (!token || pos == 0) return std::nullopt;
      in += 2;
      const unsigned bits = OffsetBits(pos);
      const std::size_t offset = (std::size_t{*token} >> (16 - bits)) + 1;
      std::size_t length = (std::size_t{*token} & (0xFFFFu >> bits)) + 3;
      if (offset > pos) return std::nullopt;
      length = std::min(length, limit - pos);
      // Byte by byte: source and destination may overlap (runs).
      for (std::size_t i = 0; i < length; ++i, ++pos) out[pos] = out[pos - offset];
    }
  }
  return pos;
}

}  // namespace

std::optional<std::size_t> Lznt1Decompress(ByteSpan in, std::span<std::uint8_t> out) {
  ByteCursor data(in);
  std::size_t at = 0, produced = 0;
  while (produced < out.size()) {
    auto header = data.U16(at);
    if (!header || *header == 0) break;
    const std::size_t chunkBytes = static_cast<std::size_t>(*header & kChunkSizeMask) + 1;
    auto body = data.Sub(at + 2, chunkBytes);
    if (!body) return std::nullopt;
    at += 2 + chunkBytes;
    std::span<std::uint8_t> window = out.subspan(produced);
    std::size_t got = 0;
    if (*header & kChunkCompressed) {
      auto decoded = DecodeTokens(*body, window);
      if (!decoded) return std::nullopt;
      got = *decoded;
    } else {
      got = std::min({chunkBytes, window.size(), kLznt1ChunkBytes});
      std::memcpy(window.data(), body->data(), got);
    }
    produced += got;
    // A short chunk stands for a whole 4096-byte piece when more follow.
    auto next = data.U16(at);
    if (got < kLznt1ChunkBytes && next && *next != 0) {
      const std::size_t pad = std::min(kLznt1ChunkBytes - got, out.size() - produced);
      std::memset(out.data() + produced, 0, pad);
      produced += pad;
    }
  }
  return produced;
}

}  // namespace ambrel
