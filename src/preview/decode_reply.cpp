#include "preview/decode_reply.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ambrel {

namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int s = 0; s < 32; s += 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void Put64(std::vector<std::uint8_t>& out, std::uint64_t v) {
  for (int s = 0; s < 64; s += 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

bool HasTag(const ByteCursor& c, const char* tag) {
  return c.size() >= 4 && std::memcmp(c.data(), tag, 4) == 0;
}

constexpr std::uint8_t kFlagDamaged = 1, kFlagVideo = 2;

}  // namespace

std::vector<std::uint8_t> EncodeDecodeRequest(ByteSpan data, std::uint32_t maxSide) {
  std::vector<std::uint8_t> out = {'A', 'M', 'D', 'Q'};
  out.reserve(kDecodeRequestHeader + data.size());
  Put32(out, maxSide);
  Put64(out, data.size());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<std::uint8_t> DecodeRequestHeaderX(std::uint64_t headLength, std::uint64_t tailLength,
                                               std::uint64_t fileSize, std::uint32_t maxSide,
                                               std::uint32_t quickSide) {
  std::vector<std::uint8_t> out = {'A', 'M', 'D', 'X'};
  Put32(out, maxSide);
  Put32(out, quickSide);
  Put32(out, 0);
  Put64(out, fileSize);
  Put64(out, tailLength);
  Put64(out, headLength + tailLength);
  return out;
}

std::vector<std::uint8_t> EncodeDecodeRequestX(ByteSpan head, ByteSpan tail, std::uint64_t fileSize,
                                               std::uint32_t maxSide, std::uint32_t quickSide) {
  std::vector<std::uint8_t> out = DecodeRequestHeaderX(head.size(), tail.size(), fileSize, maxSide, quickSide);
  out.reserve(kDecodeRequestHeaderX + head.size() + tail.size());
  out.insert(out.end(), head.begin(), head.end());
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

std::optional<DecodeRequestView> ParseDecodeRequest(ByteSpan message) {
  const ByteCursor c(message);
  if (HasTag(c, "AMDX")) {
    const std::optional<std::uint32_t> side = c.U32(4), quick = c.U32(8);
    const std::optional<std::uint64_t> fileSize = c.U64(16), tail = c.U64(24), length = c.U64(32);
    if (!side || !quick || !fileSize || !tail || !length || *tail > *length) return std::nullopt;
    const std::uint64_t head = *length - *tail;
    // The two parts lie inside the file and do not overlap.
    if (*length > *fileSize || (*tail == 0 && head != *fileSize)) return std::nullopt;
    const std::optional<ByteCursor> body = c.Sub(kDecodeRequestHeaderX, *length);
    if (!body) return std::nullopt;
    DecodeRequestView view{*side, *quick, body->span().first(std::size_t(head)),
                           body->span().subspan(std::size_t(head)), *fileSize};
    return view;
  }
  if (!HasTag(c, "AMDQ")) return std::nullopt;
  const std::optional<std::uint32_t> side = c.U32(4);
  const std::optional<std::uint64_t> length = c.U64(8);
  if (!side || !length) return std::nullopt;
  const std::optional<ByteCursor> body = c.Sub(kDecodeRequestHeader, *length);
  if (!body) return std::nullopt;
  return DecodeRequestView{*side, 0, body->span(), {}, body->size()};
}

std::vector<std::uint8_t> EncodeDecodeReply(const DecodeOutcome& outcome) {
  std::vector<std::uint8_t> out = {'A', 'M', 'D', 'R'};
  const DecodedImage empty;
  const DecodedImage& d = outcome.image ? *outcome.image : empty;
  const std::uint32_t w = outcome.image ? d.width : 0, h = outcome.image ? d.height : 0;
  out.push_back(static_cast<std::uint8_t>(outcome.image ? DecodeFailure::kNone : outcome.failure));
  out.push_back(static_cast<std::uint8_t>((d.damaged ? kFlagDamaged : 0) | (d.video ? kFlagVideo : 0)));
  out.push_back(0);
  out.push_back(0);
  for (std::uint32_t v : {d.sourceWidth, d.sourceHeight, w, h, d.frames}) Put32(out, v);
  Put32(out, 0);
  const std::size_t pixels = std::min(std::size_t(w) * h, d.pixels.size());
  const std::size_t at = out.size();
  out.resize(at + std::size_t(w) * h * 4, 0);
  static_assert(std::endian::native == std::endian::little, "pixels travel little-endian");
  // A reply without a picture has no pixels, and memcpy wants a real
  // source pointer even for no bytes.
  if (pixels != 0) std::memcpy(out.data() + at, d.pixels.data(), pixels * 4);
  return out;
}

std::optional<DecodeOutcome> ParseDecodeReply(ByteSpan message, std::uint32_t maxSide) {
  const ByteCursor c(message);
  if (!HasTag(c, "AMDR") || c.size() < kDecodeReplyHeader) return std::nullopt;
  const std::uint8_t failure = *c.U8(4);
  const std::uint8_t flags = *c.U8(5);
  if (failure > static_cast<std::uint8_t>(DecodeFailure::kNoDecoder)) return std::nullopt;
  if (failure != 0) {
    if (c.size() != kDecodeReplyHeader) return std::nullopt;
    return DecodeOutcome(static_cast<DecodeFailure>(failure));
  }
  DecodedImage d;
  d.sourceWidth = *c.U32(8);
  d.sourceHeight = *c.U32(12);
  d.width = *c.U32(16);
  d.height = *c.U32(20);
  d.frames = *c.U32(24);
  d.damaged = (flags & kFlagDamaged) != 0;
  d.video = (flags & kFlagVideo) != 0;
  if (d.width == 0 || d.height == 0) return std::nullopt;
  if (maxSide != 0 && (d.width > maxSide || d.height > maxSide)) return std::nullopt;
  const std::uint64_t pixels = std::uint64_t(d.width) * d.height;
  if (pixels > kDecodeReplyMaxPixels) return std::nullopt;
  const std::optional<ByteCursor> body = c.Sub(kDecodeReplyHeader, pixels * 4);
  if (!body || body->size() + kDecodeReplyHeader != c.size()) return std::nullopt;
  d.pixels.resize(static_cast<std::size_t>(pixels));
  std::memcpy(d.pixels.data(), body->data(), body->size());
  return DecodeOutcome(std::move(d));
}

}  // namespace ambrel
