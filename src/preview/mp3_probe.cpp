#include "preview/mp3_probe.h"

#include <vector>

namespace ambrel {
namespace {

constexpr std::size_t kLook = 64;
constexpr std::uint32_t kMaxId3Size = 0xA00000;
constexpr std::uint64_t kApeTagSize = 32;
constexpr std::uint64_t kId3v1Size = 128;
constexpr unsigned kMinItems = 11;
constexpr std::uint32_t kApeHeaderFlag = 0x20000000u;

// Kilobits per second by [row][index 1..14]; rows: MPEG-1 layer I, II, III,
// MPEG-2/2.5 layer I, MPEG-2/2.5 layers II and III.
constexpr std::uint16_t kBitrates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
// Hertz by [version bits][index]: 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1.
constexpr std::uint32_t kSampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// Bytes of the ID3v2 tag at the start, header and footer included.
std::optional<std::uint64_t> Id3TagBytes(ByteCursor head) {
  if (!head.Matches(0, "ID3") || !head.Contains(0, 10)) return std::nullopt;
  const std::uint8_t version = head.UncheckedU8(3);
  if (version < 2 || version > 4) return std::nullopt;
  std::uint32_t size = 0;
  for (int i = 6; i < 10; ++i) size = (size << 7) | (head.UncheckedU8(i) & 0x7F);
  if (size > kMaxId3Size) return std::nullopt;
  const bool footer = version == 4 && (head.UncheckedU8(5) & 0x10);
  return std::uint64_t{size} + 10 + (footer ? 10 : 0);
}

// An APE tag: a header announces the items and footer that follow it
// (u32 size at 12, excluding the header); a footer ends the tag. Never
// less than the 32 bytes of the header or footer itself.
std::uint64_t ApeSkip(ByteCursor look) {
  const std::uint32_t size = look.U32(12).value_or(0);
  const std::uint32_t flags = look.U32(20).value_or(0);
  if (flags & kApeHeaderFlag) return kApeTagSize + size;
  return kApeTagSize;
}

// Some taggers pad past the size they declare: zero bytes before the first
// frame (at most 64 KiB of them) belong to the tag.
std::uint64_t SkipTagPadding(CarveSource& source, std::uint64_t pos) {
  constexpr std::uint64_t kMaxPadding = 0x10000;
  const std::uint64_t start = pos;
  while (pos - start < kMaxPadding) {
    const std::vector<std::uint8_t> look = source.Read(pos, kLook);
    std::size_t zeros = 0;
    while (zeros < look.size() && look[zeros] == 0) ++zeros;
    pos += zeros;
    if (zeros < kLook) break;
  }
  return pos;
}

// True when the data ends before `end` (its last byte cannot be read).
bool EndsBefore(CarveSource& source, std::uint64_t end) {
  std::uint8_t last = 0;
  return end > 0 && source.ReadAt(end - 1, &last, 1) == 0;
}

}  // namespace

std::optional<std::uint32_t> MpegFrameLength(ByteCursor h) {
  if (!h.Contains(0, 4)) return std::nullopt;
  const std::uint8_t b1 = h.UncheckedU8(1), b2 = h.UncheckedU8(2);
  if (h.UncheckedU8(0) != 0xFF || (b1 & 0xE0) != 0xE0) return std::nullopt;
  const unsigned version = (b1 >> 3) & 3, layerBits = (b1 >> 1) & 3;
  const unsigned bitrateIndex = b2 >> 4, rateIndex = (b2 >> 2) & 3, padding = (b2 >> 1) & 1;
  // Bitrate index 0 (free format) gives no length: the walk could not move.
  if (version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return std::nullopt;
  const unsigned layer = 4 - layerBits;   // 1, 2 or 3
  const bool mpeg1 = version == 3;
  const unsigned row = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
  const std::uint32_t bitrate = kBitrates[row][bitrateIndex] * 1000u;
  const std::uint32_t rate = kSampleRates[version][rateIndex];
  if (layer == 1) return (12 * bitrate / rate + padding) * 4;
  const std::uint32_t factor = (layer == 3 && !mpeg1) ? 72 : 144;
  return factor * bitrate / rate + padding;
}

SizeProbe ProbeMp3(CarveSource& source) {
  std::vector<std::uint8_t> look = source.Read(0, kLook);
  auto tag = Id3TagBytes(ByteCursor(look.data(), look.size()));
  if (!tag) return SizeProbe{kWalkMalformed, 0, 0};
  std::uint64_t pos = SkipTagPadding(source, *tag);
  unsigned items = 0;
  for (;;) {
    look = source.Read(pos, kLook);
    ByteCursor c(look.data(), look.size());
    std::uint64_t skip = 0;
    if (c.Matches(0, "APETAGEX")) {
      skip = ApeSkip(c);
    } else if (c.Matches(0, "TAG")) {
      skip = kId3v1Size;
    } else if (auto frame = MpegFrameLength(c)) {
      skip = *frame;
    }
    if (skip == 0) break;
    // The data ends inside this item (a cut file): its end is not known.
    if (EndsBefore(source, pos + skip)) return SizeProbe{kWalkNeedMore, 0, 0};
    pos += skip;
    ++items;
  }
  if (items < kMinItems) return SizeProbe{kWalkMalformed, 0, 0};
  return SizeProbe{kWalkOk, pos, 54};
}

}  // namespace ambrel
