// LZNT1, the compression of NTFS compressed attributes: a compression unit
// (16 clusters as a rule) is stored as a sequence of chunks, each holding
// up to 4096 bytes of output, either raw or as LZ77 tokens whose offset and
// length split depends on the position inside the chunk. Pure functions
// over spans; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/byte_cursor.h"

namespace ambrel {

inline constexpr std::size_t kLznt1ChunkBytes = 4096;

// Decompresses `in` into `out`. Decoding ends at a zero chunk header, at the
// end of `in` or when `out` is full; a chunk that yields less than 4096
// bytes and is followed by another is padded with zeros to 4096. Returns the
// bytes produced, or nothing when a chunk is malformed (a header whose chunk
// passes the end of `in`, a back reference before the chunk start).
std::optional<std::size_t> Lznt1Decompress(ByteSpan in, std::span<std::uint8_t> out);

}  // namespace ambrel
