// Video: Matroska, transport streams, ASF, Flash video, RealMedia, MPEG
// program streams, AVI and the QuickTime family (whose sizes the video
// reassembly gives). Animated cursors are RIFF files as well.
#include <algorithm>
#include <array>
#include <string_view>

#include "deepscan/carve/carve_units.h"

namespace ambrel {
namespace {

using namespace std::string_view_literals;

using Guid = std::array<std::uint8_t, 16>;

// The top-level ASF objects: header, data, simple index, index, media
// object index, timecode index (GUIDs as stored).
constexpr std::array<Guid, 6> kAsfTopLevel = {{
    {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C},
    {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C},
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C},
}};

constexpr std::array<std::string_view, 7> kRealMediaChunks = {".RMF", "PROP", "MDPR", "CONT",
                                                               "DATA", "INDX", "RMMD"};

// RIFF chunks of an AVI skipped by their size, and the list types entered.
constexpr std::array<std::string_view, 8> kAviSkipped = {"JUNK", "LIST", "strd", "strf",
                                                         "avih", "strh", "strn", "vprp"};
constexpr std::array<std::string_view, 3> kAviEntered = {"AVI ", "hdrl", "strl"};

constexpr std::uint32_t kMinMpegPacks = 11;
constexpr std::uint64_t kMaxObjectBytes = 1ull << 40;

bool IsAsfTopLevel(const ByteCursor& w) {
  auto guid = w.Sub(0, 16);
  if (!guid) return false;
  return std::any_of(kAsfTopLevel.begin(), kAsfTopLevel.end(),
                     [&](const Guid& g) { return std::equal(g.begin(), g.end(), guid->data()); });
}

template <std::size_t N>
bool IdIn(const ByteCursor& w, const std::array<std::string_view, N>& ids) {
  return std::any_of(ids.begin(), ids.end(), [&](std::string_view id) { return w.Matches(0, id); });
}

bool HasBrand(const ByteCursor& s) { return s.Matches(4, "ftyp"sv); }

// An EBML variable-length integer at `at`: its width and value; the value
// is nothing for the reserved "unknown size".
struct Vint {
  unsigned width = 0;
  std::optional<std::uint64_t> value;
};
std::optional<Vint> ReadVint(const ByteCursor& w, std::uint64_t at) {
  auto first = w.U8(at);
  if (!first || *first == 0) return std::nullopt;
  unsigned width = 1;
  while (!(*first & (0x80u >> (width - 1)))) ++width;
  if (!w.Contains(at, width)) return std::nullopt;
  std::uint64_t value = *first & (0xFFu >> width);
  bool allOnes = value == (0xFFu >> width);
  for (unsigned i = 1; i < width; ++i) {
    value = (value << 8) | w.UncheckedU8(at + i);
    allOnes = allOnes && w.UncheckedU8(at + i) == 0xFF;
  }
  Vint v;
  v.width = width;
  if (!allOnes) v.value = value;
  return v;
}

// Length of the MPEG program-stream unit at the window's start; 0 ends the walk.
std::uint64_t MpegUnitLength(const ByteCursor& w, bool& pack, bool& end) {
  pack = end = false;
  if (!w.Matches(0, "\x00\x00\x01"sv) || !w.Contains(0, 14)) return 0;
  const std::uint8_t code = w.UncheckedU8(3);
  if (code == 0xBA) {
    pack = true;
    const std::uint8_t b4 = w.UncheckedU8(4);
    if ((b4 & 0xC0) == 0x40) return 14 + (w.UncheckedU8(13) & 7);
    if ((b4 & 0xF0) == 0x20) return 12;
    pack = false;
    return 0;
  }
  if (code == 0xB9) {
    end = true;
    return 4;
  }
  if (code >= 0xBB) return 6 + ((std::uint64_t{w.UncheckedU8(4)} << 8) | w.UncheckedU8(5));
  return 0;
}

std::uint32_t Be24(const ByteCursor& w, std::size_t at) {
  return (std::uint32_t{w.UncheckedU8(at)} << 16) | (std::uint32_t{w.UncheckedU8(at + 1)} << 8) |
         w.UncheckedU8(at + 2);
}

}  // namespace

bool IsMatroska(const ByteCursor& s) { return s.Matches(0, "\x1A\x45\xDF\xA3"sv); }

bool IsMts(const ByteCursor& s) {
  const auto first = s.U8(0);
  return first && *first <= 1 && s.Matches(4, "\x47\x40\x00\x10"sv);
}

bool IsM2t(const ByteCursor& s) { return s.Matches(0, "\x47\x48\x10\x11\x00\x00\x01"sv); }

bool IsAsf(const ByteCursor& s) { return s.Matches(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv); }

bool IsFlv(const ByteCursor& s) { return s.Matches(0, "FLV\x01"sv); }

bool IsRam(const ByteCursor& s) { return s.Matches(0, "\x2E\x72\x61\x3F"sv); }

bool IsRealMedia(const ByteCursor& s) { return s.Matches(0, ".RMF"sv); }

bool IsAnimatedCursor(const ByteCursor& s) { return s.Matches(0, "RIFF"sv) && s.Matches(12, "anih"sv); }

bool IsM4a(const ByteCursor& s) { return HasBrand(s) && s.Matches(8, "M4A "sv); }

bool Is3gp(const ByteCursor& s) { return HasBrand(s) && s.Matches(8, "3gp"sv); }

bool IsM4v(const ByteCursor& s) { return HasBrand(s) && s.Matches(8, "M4V "sv); }

bool IsMp4(const ByteCursor& s) { return HasBrand(s) && (s.Matches(8, "isom"sv) || s.Matches(8, "mmp4"sv)); }

bool IsQuickTime(const ByteCursor& s) { return HasBrand(s); }

bool IsMpegProgram(const ByteCursor& s) {
  const auto scr = s.U32(4);
  return s.Matches(0, "\x00\x00\x01\xBA"sv) && scr && (*scr == 0x00010021u || *scr == 0x00040044u);
}

bool IsAvi(const ByteCursor& s) { return s.Matches(0, "RIFF"sv) && s.Matches(8, "AVI "sv); }

// The EBML header and the Segment that follows it make the whole file.
int MatroskaRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const int r = Window(s, in, 0, 2048, w);
  if (r != kWindowReady) return r;
  auto headerSize = ReadVint(w, 4);
  if (!IsMatroska(w) || !headerSize || !headerSize->value) return Invalid(s);
  const std::uint64_t segmentAt = 4 + headerSize->width + *headerSize->value;
  if (!w.Matches(segmentAt, "\x18\x53\x80\x67"sv)) return Invalid(s);
  auto segmentSize = ReadVint(w, segmentAt + 4);
  if (!segmentSize) return Invalid(s);
  if (!segmentSize->value) return kRuleNone;  // a live stream: the size is not written
  return Sized(s, segmentAt + 4 + segmentSize->width + *segmentSize->value);
}

int AsfRule(CarveState& s, const CarveInput& in) {
  for (;;) {
    ByteCursor w;
    const int r = Window(s, in, s.offset, 512, w);
    if (r == kRuleInvalid) break;  // the scanned area ends here
    if (r != kWindowReady) return r;
    const auto size = w.U64(16);
    if (!IsAsfTopLevel(w) || !size || *size < 24 || *size > kMaxObjectBytes) break;
    s.offset += *size;
    ++s.counter;
  }
  return s.counter < 2 ? Invalid(s) : Sized(s, s.offset);
}

// The tags, each followed by the size of the one before; a size that does
// not match ends the file before the tag it follows.
int FlvRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  if (s.phase == 0) {
    const int r = Window(s, in, 0, 15, w);
    if (r != kWindowReady) return r;
    const auto header = w.U32Be(5);
    if (!w.Matches(0, "FLV"sv) || !header || *header < 9 || *header > 0x10000) return Invalid(s);
    s.offset = *header;
    s.phase = 1;
  }
  for (;;) {
    const int r = Window(s, in, s.offset, 15, w);
    if (r == kRuleInvalid) return s.counter < 2 ? Invalid(s) : Sized(s, s.offset);
    if (r != kWindowReady) return r;
    if (w.size() < 15) return s.counter < 2 ? Invalid(s) : Sized(s, std::min(s.offset + 4, s.offset + w.size()));
    if (s.counter >= 1 && w.U32Be(0) != s.remembered) return Sized(s, s.offset - s.remembered);
    const std::uint8_t type = w.UncheckedU8(4);
    if (type != 8 && type != 9 && type != 18) return s.counter < 2 ? Invalid(s) : Sized(s, s.offset + 4);
    const std::uint32_t data = Be24(w, 5);
    s.remembered = 11u + data;
    s.offset += 15u + data;
    ++s.counter;
  }
}

// Top-level chunks by their sizes; the file is taken when it has its
// header and a data chunk.
int RealMediaRule(CarveState& s, const CarveInput& in) {
  for (;;) {
    ByteCursor w;
    const int r = Window(s, in, s.offset, 8, w);
    if (r == kRuleInvalid) break;
    if (r != kWindowReady) return r;
    const auto size = w.U32Be(4);
    if (!size || *size < 8 || !IdIn(w, kRealMediaChunks)) break;
    if (s.offset == 0 && !w.Matches(0, ".RMF"sv)) break;
    if (w.Matches(0, "DATA"sv)) s.phase = 1;
    if (s.phase) ++s.counter;
    s.offset += *size;
  }
  return s.phase && s.offset > 0 ? Sized(s, s.offset) : Invalid(s);
}

int MpegProgramRule(CarveState& s, const CarveInput& in) {
  for (;;) {
    ByteCursor w;
    const int r = Window(s, in, s.offset, 32, w);
    if (r == kRuleInvalid) break;
    if (r != kWindowReady) return r;
    bool pack = false, end = false;
    const std::uint64_t length = MpegUnitLength(w, pack, end);
    if (length == 0) break;
    s.offset += length;
    if (pack) ++s.counter;
    if (end) break;
  }
  return s.counter >= kMinMpegPacks ? Sized(s, s.offset) : Invalid(s);
}

int AviRule(CarveState& s, const CarveInput& in) {
  for (;;) {
    if (s.remembered != 0 && s.offset >= s.remembered) return Sized(s, s.remembered);
    ByteCursor w;
    const int r = Window(s, in, s.offset, 8, w);
    if (r != kWindowReady) return r;
    const auto length = w.U32(4);
    if (!length) return Invalid(s);
    const std::uint64_t chunk = std::uint64_t{*length} + 8 + (*length & 1);
    if (w.Matches(0, "RIFF"sv)) {
      if (s.remembered == 0) {
        if (*length < 12) return Invalid(s);
        s.remembered = std::uint64_t{*length} + 8;
      }
      s.offset += 8;
    } else if (IdIn(w, kAviEntered)) {
      s.offset += 4;
    } else if (IdIn(w, kAviSkipped)) {
      s.offset += chunk;
    } else if (w.Matches(0, "idx1"sv)) {
      s.offset += chunk;
      return s.remembered ? Sized(s, s.remembered) : Invalid(s);
    } else {
      return Invalid(s);
    }
  }
}

int QuickTimeRule(CarveState&, const CarveInput&) { return kRuleNone; }

}  // namespace ambrel
