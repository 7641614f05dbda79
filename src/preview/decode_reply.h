// The messages between the preview and its decoding helper process: the
// request (the picture's bytes and the edge to fit) on the helper's
// standard input, the reply (the picture or why there is none) on its
// standard output. The helper decodes untrusted bytes and may be
// subverted by them, so its reply is as untrusted as the bytes themselves.
//
// Request: "AMDQ", u32 maxSide, u64 length, the bytes; or
//          "AMDX", u32 maxSide, u32 quickSide, u32 0, u64 fileSize,
//          u64 tailLength, u64 length, the bytes: the first
//          length - tailLength bytes of a file of fileSize bytes and its
//          last tailLength bytes (the rest was not sent). With a quickSide
//          the helper replies twice: the picture fitted to quickSide as soon
//          as it is decoded, then the one fitted to maxSide.
// Reply:   "AMDR", u8 failure (DecodeFailure), u8 flags (1 damaged,
//          2 video), u16 0, u32 sourceWidth, sourceHeight, width, height,
//          frames, then width*height pixels (u32 0xAARRGGBB); all little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/byte_cursor.h"
#include "preview/image_decoder.h"

namespace ambrel {

inline constexpr std::size_t kDecodeRequestHeader = 16;
inline constexpr std::size_t kDecodeReplyHeader = 32;
// No reply picture has more pixels than this, whatever it was asked.
inline constexpr std::uint64_t kDecodeReplyMaxPixels = 50'000'000;

inline constexpr std::size_t kDecodeRequestHeaderX = 40;

std::vector<std::uint8_t> EncodeDecodeRequest(ByteSpan data, std::uint32_t maxSide);
// The extended request: `head` from the file's start, `tail` its last
// bytes (empty: `head` is the whole file and fileSize its size).
std::vector<std::uint8_t> EncodeDecodeRequestX(ByteSpan head, ByteSpan tail, std::uint64_t fileSize,
                                               std::uint32_t maxSide, std::uint32_t quickSide);
// The header of the extended request alone: the bytes follow it unchanged
// (head, then tail), so a caller can send them without copying.
std::vector<std::uint8_t> DecodeRequestHeaderX(std::uint64_t headLength, std::uint64_t tailLength,
                                               std::uint64_t fileSize, std::uint32_t maxSide,
                                               std::uint32_t quickSide);
struct DecodeRequestView {
  std::uint32_t maxSide = 0;
  std::uint32_t quickSide = 0;  // 0: one reply
  ByteSpan data;                // the file's start (all of it when tail is empty)
  ByteSpan tail;                // its last bytes, at fileSize - tail.size()
  std::uint64_t fileSize = 0;
};
std::optional<DecodeRequestView> ParseDecodeRequest(ByteSpan message);

std::vector<std::uint8_t> EncodeDecodeReply(const DecodeOutcome& outcome);
// The outcome a reply states; nothing when it is malformed, or its picture
// is larger than `maxSide` allows (0: kDecodeReplyMaxPixels) or than its
// bytes hold.
std::optional<DecodeOutcome> ParseDecodeReply(ByteSpan message, std::uint32_t maxSide);

}  // namespace ambrel
