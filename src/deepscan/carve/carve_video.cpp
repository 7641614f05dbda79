// Video: Matroska, transport streams, ASF, Flash video, RealMedia, MPEG
// program streams, AVI and the QuickTime family (sized here when the file
// lies in one piece; a recording scattered over the disk is left to the
// video reassembly). Animated cursors are RIFF files as well.
#include <algorithm>
#include <array>
#include <string_view>

#include <zlib.h>

#include "deepscan/carve/carve_units.h"
#include "deepscan/carve/carve_window.h"
#include "video/contiguous_check.h"

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
// DVD-style program streams: packs of 2048 bytes each.
constexpr std::uint64_t kMpegFixedPack = 2048;
// A stream starts near clock 0: its first packs carry a system clock
// reference below one second (90 kHz).
constexpr std::uint64_t kMpegStartClock = 90000;
constexpr std::uint8_t kMpegEnded = 1, kMpegIrregular = 2;
constexpr std::uint64_t kMaxObjectBytes = 1ull << 40;

// Transport streams: 188-byte packets, or 192 bytes with a 4-byte time
// code before each (M2TS); every packet begins with the sync byte.
constexpr std::uint64_t kTsPacket = 188, kM2tsPacket = 192;
constexpr std::uint8_t kTsSync = 0x47;
constexpr std::uint32_t kM2tsType = 88;
constexpr std::uint32_t kMinTsPackets = 3;

// QuickTime and ISO media files: top-level atoms, each a big-endian size
// (1: a 64-bit size follows the type; 0: to the end of the file) and a type.
constexpr std::array<std::string_view, 21> kTopLevelAtoms = {
    "ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "pnot", "PICT", "meta", "moof",
    "mfra", "sidx", "styp", "ssix", "prft", "emsg", "udta", "junk", "pdin", "bloc"};
constexpr std::uint8_t kSeenBrand = 1, kSeenMovie = 2, kSeenData = 4, kSeenFragments = 8;
constexpr std::uint64_t kMaxMovieAtom = 0x2000000;
constexpr int kMaxAtomDepth = 16;
constexpr std::uint64_t kMaxAtomBytes = 1ull << 44;

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

// The known children of a Matroska Segment (EBML IDs, marker bits kept):
// SeekHead, Info, Tracks, Cluster, Cues, Attachments, Chapters, Tags, Void
// and CRC-32.
constexpr std::array<std::uint32_t, 10> kSegmentChildren = {0x114D9B74, 0x1549A966, 0x1654AE6B, 0x1F43B675,
                                                            0x1C53BB6B, 0x1941A469, 0x1043A770, 0x1254C367,
                                                            0xEC, 0xBF};
// Bytes that hold the EBML header's ID and size, and an element's.
constexpr std::uint32_t kEbmlHeadBytes = 64;
constexpr std::uint32_t kEbmlElementHead = 12;

// An EBML ID at `at` (one to four bytes, the length marker kept).
std::optional<std::pair<std::uint32_t, unsigned>> ReadEbmlId(const ByteCursor& w, std::uint64_t at) {
  auto first = w.U8(at);
  if (!first || *first < 0x10) return std::nullopt;
  unsigned width = 1;
  while (!(*first & (0x80u >> (width - 1)))) ++width;
  if (!w.Contains(at, width)) return std::nullopt;
  std::uint32_t id = 0;
  for (unsigned i = 0; i < width; ++i) id = (id << 8) | w.UncheckedU8(at + i);
  return std::make_pair(id, width);
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

// The system clock reference of a pack header (MPEG-1 or MPEG-2) at the
// window's start, when its marker bits hold.
std::optional<std::uint64_t> PackClock(const ByteCursor& w) {
  if (!w.Matches(0, "\x00\x00\x01\xBA"sv) || !w.Contains(0, 12)) return std::nullopt;
  const std::uint8_t b4 = w.UncheckedU8(4), b5 = w.UncheckedU8(5), b6 = w.UncheckedU8(6);
  const std::uint8_t b7 = w.UncheckedU8(7), b8 = w.UncheckedU8(8), b9 = w.UncheckedU8(9);
  if ((b4 & 0xC4) == 0x44) {  // MPEG-2: 01 ccc 1 cc ... with markers after each part
    if (!(b6 & 0x04) || !(b8 & 0x04) || !(b9 & 0x01)) return std::nullopt;
    return (std::uint64_t{b4 & 0x38u} << 27) | (std::uint64_t{b4 & 0x03u} << 28) | (std::uint64_t{b5} << 20) |
           (std::uint64_t{b6 & 0xF8u} << 12) | (std::uint64_t{b6 & 0x03u} << 13) | (std::uint64_t{b7} << 5) |
           (b8 >> 3);
  }
  if ((b4 & 0xF1) == 0x21) {  // MPEG-1: 0010 ccc 1, then two 15-bit parts each followed by a marker
    if (!(b6 & 0x01) || !(b8 & 0x01) || !(b9 & 0x80)) return std::nullopt;
    return (std::uint64_t{b4 & 0x0Eu} << 29) | (std::uint64_t{b5} << 22) | (std::uint64_t{b6 & 0xFEu} << 14) |
           (std::uint64_t{b7} << 7) | (b8 >> 1);
  }
  return std::nullopt;
}

bool IsTopLevelAtom(const ByteCursor& w, std::uint64_t at) {
  return std::any_of(kTopLevelAtoms.begin(), kTopLevelAtoms.end(),
                     [&](std::string_view t) { return w.Matches(at, t); });
}

// What a movie atom's sample tables tell: the largest chunk offset, and
// whether the movie is fragmented (its samples then lie in fragments).
struct MovieFacts {
  std::uint64_t lastChunk = 0;
  bool anyChunk = false;
  bool fragments = false;
};

void WalkMovieAtoms(const ByteCursor& body, int depth, MovieFacts& f) {
  if (depth > kMaxAtomDepth) return;
  std::uint64_t pos = 0;
  while (body.Contains(pos, 8)) {
    std::uint64_t size = *body.U32Be(pos), header = 8;
    if (size == 1) {
      const auto big = body.U64Be(pos + 8);
      if (!big) return;
      size = *big;
      header = 16;
    } else if (size == 0) {
      size = body.size() - pos;
    }
    if (size < header || !body.Contains(pos, size)) return;
    const ByteCursor inner = *body.Sub(pos + header, size - header);
    if (body.Matches(pos + 4, "trak") || body.Matches(pos + 4, "mdia") || body.Matches(pos + 4, "minf") ||
        body.Matches(pos + 4, "stbl")) {
      WalkMovieAtoms(inner, depth + 1, f);
    } else if (body.Matches(pos + 4, "mvex")) {
      f.fragments = true;
    } else if (body.Matches(pos + 4, "stco") || body.Matches(pos + 4, "co64")) {
      const unsigned width = body.Matches(pos + 4, "co64") ? 8 : 4;
      const auto count = inner.U32Be(4);
      if (count && inner.Contains(8, std::uint64_t{*count} * width)) {
        for (std::uint64_t i = 0; i < *count; ++i) {
          const std::uint64_t at = 8 + i * width;
          const std::uint64_t offset = width == 8 ? *inner.U64Be(at) : *inner.U32Be(at);
          f.lastChunk = std::max(f.lastChunk, offset);
          f.anyChunk = true;
        }
      }
    }
    pos += size;
  }
}

std::uint32_t Be24(const ByteCursor& w, std::size_t at) {
  return (std::uint32_t{w.UncheckedU8(at)} << 16) | (std::uint32_t{w.UncheckedU8(at + 1)} << 8) |
         w.UncheckedU8(at + 2);
}


// Transport streams. Words: counter, the packets walked.
std::optional<RuleResult> TransportStep(CarveState& s, const ByteCursor& w, bool last, std::uint32_t& need) {
  const std::uint64_t packet = s.type == kM2tsType ? kM2tsPacket : kTsPacket;
  const std::uint64_t sync = packet - kTsPacket;
  std::uint64_t pos = 0;
  for (;;) {
    if (!w.Contains(pos, packet)) {
      if (last) break;
      need = static_cast<std::uint32_t>(packet);
      s.offset += pos;
      return std::nullopt;
    }
    if (w.UncheckedU8(pos + sync) != kTsSync) break;
    pos += packet;
    ++s.counter;
  }
  // The run of packets whose sync bytes hold.
  if (s.counter < kMinTsPackets) return Invalid(s);
  return Sized(s, s.offset + pos);
}

// Program streams. Words: counter, the packs; phase, kMpegEnded /
// kMpegIrregular (a pack not 2048 bytes after the one before); mark, the
// last pack's position + 1.
std::optional<RuleResult> ProgramStep(CarveState& s, const ByteCursor& w, bool last, std::uint32_t& need) {
  std::uint64_t pos = 0;
  for (;;) {
    const auto unit = w.Sub(pos, 32);
    if (!unit && !last) {
      need = 32;
      s.offset += pos;
      return std::nullopt;
    }
    bool pack = false, end = false;
    const std::uint64_t length = unit ? MpegUnitLength(*unit, pack, end) : 0;
    if (length == 0) break;
    const std::uint64_t at = s.offset + pos;
    if (pack) {
      if (s.mark != 0 && at - (s.mark - 1) != kMpegFixedPack) s.phase |= kMpegIrregular;
      s.mark = at + 1;
      ++s.counter;
    }
    pos += length;
    if (end) {
      s.phase |= kMpegEnded;
      break;
    }
  }
  // The walk stopped: a stream with an end code, enough packs, or packs of
  // a fixed 2048 bytes that end on a pack boundary.
  const std::uint64_t at = s.offset + pos;
  const bool fixed = !(s.phase & kMpegIrregular) && s.counter > 0 && at % kMpegFixedPack == 0;
  if ((s.phase & kMpegEnded) || s.counter >= kMinMpegPacks || fixed) return Sized(s, at);
  return Invalid(s);
}

// Where the atom walk stops (no atom at `at`): a file in one piece has its
// type, its movie and its data, and every chunk the movie names lies
// before `at`; anything else is not told here (cut, or scattered over the
// disk: the video reassembly's case).
RuleResult QuickTimeEnd(CarveState& s, std::uint64_t at) {
  const bool whole = (s.phase & (kSeenBrand | kSeenMovie | kSeenData)) == (kSeenBrand | kSeenMovie | kSeenData);
  if (!whole) return RuleResult::kNone;
  if (!(s.phase & kSeenFragments) && s.mark != 0) {
    const std::uint64_t lastChunk = s.mark - 1;
    if (lastChunk >= at || s.remembered == 0 || lastChunk + 1 < s.remembered) return RuleResult::kNone;
  }
  return Sized(s, at);
}

// Words: phase, the kSeen* bits; mark, the largest chunk offset + 1;
// remembered, the first data atom's payload + 1.
std::optional<RuleResult> QuickTimeStep(CarveState& s, const ByteCursor& w, bool last, std::uint32_t& need) {
  std::uint64_t pos = 0;
  for (;;) {
    const std::uint64_t at = s.offset + pos;
    if (!w.Contains(pos, 8)) {
      if (last) return QuickTimeEnd(s, at);
      need = 16;
      break;
    }
    const bool brand = w.Matches(pos + 4, "ftyp"), movie = w.Matches(pos + 4, "moov");
    if (at == 0 && !brand) return Invalid(s);
    // Another file's first atom, a second movie or no atom: the end.
    if (!IsTopLevelAtom(w, pos + 4) || (brand && at != 0) || (movie && (s.phase & kSeenMovie)))
      return QuickTimeEnd(s, at);
    std::uint64_t size = w.UncheckedU32(pos) == 0 ? 0 : *w.U32Be(pos), header = 8;
    if (size == 1) {
      const auto big = w.U64Be(pos + 8);
      if (!big) {
        if (last) return QuickTimeEnd(s, at);
        need = 16;
        break;
      }
      size = *big;
      header = 16;
    }
    if (size == 0) return RuleResult::kNone;  // runs to the end of the file: not told
    if (size < header || size > kMaxAtomBytes) return QuickTimeEnd(s, at);
    if (movie) {
      if (size > kMaxMovieAtom) return RuleResult::kNone;
      const auto atom = w.Sub(pos + header, size - header);
      if (!atom) {
        need = static_cast<std::uint32_t>(size);
        break;
      }
      MovieFacts facts;
      WalkMovieAtoms(*atom, 0, facts);
      if (facts.fragments) s.phase |= kSeenFragments;
      if (facts.anyChunk) s.mark = facts.lastChunk + 1;
      s.phase |= kSeenMovie;
    } else if (brand) {
      s.phase |= kSeenBrand;
    } else if (w.Matches(pos + 4, "mdat")) {
      s.phase |= kSeenData;
      if (s.remembered == 0) s.remembered = at + header + 1;
    }
    pos += size;
  }
  s.offset += pos;
  return std::nullopt;
}


// Flash movies: "FWS", "CWS" or "ZWS", the version, the length of the
// movie uncompressed with its 8-byte header; then (ZWS) the length of the
// LZMA data and the 5 bytes of its properties. The movie: a rectangle of
// 5 + 4 x n bits (n in the top 5 bits of its first byte), the frame rate
// and count (2 bytes each), then tags: a 16-bit code and length (code in
// the top 10 bits, a length of 63 means a 32-bit length follows), the End
// tag (code 0) last, ending the stated length.
constexpr std::uint64_t kFlashHeader = 8;
constexpr std::uint64_t kFlashLzmaHeader = 17;
constexpr std::uint32_t kFlashMinLength = 15;
constexpr std::uint8_t kFlashMaxVersion = 64;
constexpr std::uint8_t kLzmaPropsLimit = 9 * 5 * 5;
constexpr std::uint64_t kFlashLongTag = 0x3F;

int FlashTagWalk(const ByteCursor& head, std::uint64_t stated, std::uint64_t& size) {
  const auto first = head.U8(kFlashHeader);
  if (!first) return kWalkNeedMore;
  const std::uint64_t rectBits = 5 + 4 * static_cast<std::uint64_t>(*first >> 3);
  std::uint64_t pos = kFlashHeader + (rectBits + 7) / 8 + 4;
  for (;;) {
    if (pos + 2 > stated) return kWalkMalformed;
    const auto tag = head.U16(pos);
    if (!tag) return kWalkNeedMore;
    std::uint64_t length = *tag & kFlashLongTag;
    pos += 2;
    if (length == kFlashLongTag) {
      const auto longLength = head.U32(pos);
      if (!longLength) return kWalkNeedMore;
      length = *longLength;
      pos += 4;
    }
    pos += length;
    if (pos > stated) return kWalkMalformed;
    // The End tag closes the movie at its stated length: one earlier is
    // zeros after a cut movie.
    if ((*tag >> 6) == 0) {
      if (length != 0 || pos != stated) return kWalkMalformed;
      size = stated;
      return kWalkOk;
    }
  }
}

// The deflate stream after the header is inflated (the output counted,
// not kept): it must end, and give the stated length.
int FlashInflatedEnd(const ByteCursor& head, std::uint64_t stated, std::uint64_t& size) {
  if (head.size() <= kFlashHeader) return kWalkNeedMore;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return kWalkUnknown;
  const std::uint64_t input = head.size() - kFlashHeader;
  z.next_in = const_cast<Bytef*>(head.data() + kFlashHeader);
  z.avail_in = static_cast<uInt>(std::min<std::uint64_t>(input, 0xFFFFFFFFu));
  std::array<Bytef, 0x8000> out;
  const std::uint64_t expected = stated - kFlashHeader;
  std::uint64_t produced = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    rc = inflate(&z, Z_NO_FLUSH);
    produced += out.size() - z.avail_out;
    if (produced > expected) {
      rc = Z_DATA_ERROR;
      break;
    }
  }
  const std::uint64_t used = z.total_in;
  inflateEnd(&z);
  if (rc == Z_STREAM_END) {
    if (produced != expected) return kWalkMalformed;
    size = kFlashHeader + used;
    return kWalkOk;
  }
  if (rc == Z_BUF_ERROR && used == input) return kWalkNeedMore;
  return kWalkMalformed;
}

}  // namespace

bool IsMatroska(const ByteCursor& s) { return s.Matches(0, "\x1A\x45\xDF\xA3"sv); }

bool IsMts(const ByteCursor& s) {
  const auto first = s.U8(0);
  if (first && *first <= 1 && s.Matches(4, "\x47\x40\x00\x10"sv)) return true;
  // Three packets of 192 bytes, each with its time code.
  return s.U8(4) == kTsSync && s.U8(4 + kM2tsPacket) == kTsSync && s.U8(4 + 2 * kM2tsPacket) == kTsSync &&
         !(*s.U8(5) & 0x80);
}

// Three packets of 188 bytes, none marked as damaged in transport.
bool IsM2t(const ByteCursor& s) {
  if (s.Matches(0, "\x47\x48\x10\x11\x00\x00\x01"sv)) return true;
  for (std::uint64_t i = 0; i < 3; ++i) {
    const auto sync = s.U8(i * kTsPacket), flags = s.U8(i * kTsPacket + 1);
    if (sync != kTsSync || !flags || (*flags & 0x80)) return false;
  }
  return true;
}

// The packet that ends 324 bytes into the previous sector runs on into
// this one: the sector is inside a stream, not at its start.
bool ContinuesTransportStream(const ByteCursor& previous, const ByteCursor&) {
  return previous.U8(512 - kTsPacket) == kTsSync;
}

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

// A pack header whose clock is (nearly) zero: the first pack of a stream.
bool IsMpegProgram(const ByteCursor& s) {
  const auto scr = s.U32(4);
  if (!s.Matches(0, "\x00\x00\x01\xBA"sv) || !scr) return false;
  if (*scr == 0x00010021u || *scr == 0x00040044u) return true;
  const auto clock = PackClock(s);
  return clock && *clock < kMpegStartClock;
}

bool IsAvi(const ByteCursor& s) { return s.Matches(0, "RIFF"sv) && s.Matches(8, "AVI "sv); }

bool IsFlash(const ByteCursor& s) {
  if (!(s.Matches(0, "FWS"sv) || s.Matches(0, "CWS"sv) || s.Matches(0, "ZWS"sv))) return false;
  const auto version = s.U8(3);
  const auto length = s.U32(4);
  return version && *version >= 1 && *version <= kFlashMaxVersion && length && *length >= kFlashMinLength;
}

namespace {

// The walk: s.mark holds the Segment's end once its header is read.
std::optional<RuleResult> MatroskaStep(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  std::uint64_t pos = 0;
  if (s.offset == 0) {
    auto headerSize = ReadVint(w, 4);
    if (!IsMatroska(w) || !headerSize || !headerSize->value || *headerSize->value > kEbmlHeadBytes * 64)
      return Invalid(s);
    const std::uint64_t segmentAt = 4 + headerSize->width + *headerSize->value;
    if (!w.Contains(segmentAt, kEbmlElementHead)) {
      need = static_cast<std::uint32_t>(segmentAt + kEbmlElementHead);
      return std::nullopt;
    }
    if (!w.Matches(segmentAt, "\x18\x53\x80\x67"sv)) return Invalid(s);
    auto segmentSize = ReadVint(w, segmentAt + 4);
    if (!segmentSize) return Invalid(s);
    if (!segmentSize->value) return RuleResult::kNone;  // a live stream: the size is not written
    pos = segmentAt + 4 + segmentSize->width;
    if (*segmentSize->value > kMaxObjectBytes) return Invalid(s);
    s.mark = pos + *segmentSize->value;
  }
  for (;;) {
    if (s.offset + pos == s.mark) return Sized(s, s.mark);
    if (!w.Contains(pos, kEbmlElementHead)) {
      need = kEbmlElementHead;
      break;
    }
    const auto id = ReadEbmlId(w, pos);
    // Children a reader does not know are skipped by their size; those
    // have the long IDs of the Segment's level (three or four bytes).
    if (!id || (id->second < 3 &&
                std::find(kSegmentChildren.begin(), kSegmentChildren.end(), id->first) == kSegmentChildren.end()))
      return Invalid(s);
    const auto size = ReadVint(w, pos + id->second);
    if (!size) return Invalid(s);
    if (!size->value) return RuleResult::kNone;  // a cluster written live: its end is not written
    const std::uint64_t end = s.offset + pos + id->second + size->width + *size->value;
    if (end > s.mark) return Invalid(s);
    pos = end - s.offset;
  }
  s.offset += pos;
  return std::nullopt;
}

}  // namespace

// The EBML header and the Segment that follows it make the whole file; the
// Segment's children are walked to its end (a file cut inside a cluster
// meets bytes that are no child there).
RuleResult MatroskaRule(CarveState& s, const CarveInput& in) {
  return WalkRecords(s, in, MatroskaStep, kEbmlHeadBytes);
}

RuleResult AsfRule(CarveState& s, const CarveInput& in) {
  for (;;) {
    ByteCursor w;
    const WindowRead r = Window(s, in, s.offset, 512, w);
    if (r == WindowRead::kPastArea) break;  // the scanned area ends here
    if (r != WindowRead::kReady) return NotReady(r);
    const auto size = w.U64(16);
    if (!IsAsfTopLevel(w) || !size || *size < 24 || *size > kMaxObjectBytes) break;
    s.offset += *size;
    ++s.counter;
  }
  return s.counter < 2 ? Invalid(s) : Sized(s, s.offset);
}

// The tags, each followed by the size of the one before; a size that does
// not match ends the file before the tag it follows.
RuleResult FlvRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  if (s.phase == 0) {
    const WindowRead r = Window(s, in, 0, 15, w);
    if (r != WindowRead::kReady) return NotReady(r);
    const auto header = w.U32Be(5);
    if (!w.Matches(0, "FLV"sv) || !header || *header < 9 || *header > 0x10000) return Invalid(s);
    s.offset = *header;
    s.phase = 1;
  }
  for (;;) {
    const WindowRead r = Window(s, in, s.offset, 15, w);
    if (r == WindowRead::kPastArea) return s.counter < 2 ? Invalid(s) : Sized(s, s.offset);
    if (r != WindowRead::kReady) return NotReady(r);
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
RuleResult RealMediaRule(CarveState& s, const CarveInput& in) {
  for (;;) {
    ByteCursor w;
    const WindowRead r = Window(s, in, s.offset, 8, w);
    if (r == WindowRead::kPastArea) break;
    if (r != WindowRead::kReady) return NotReady(r);
    const auto size = w.U32Be(4);
    if (!size || *size < 8 || !IdIn(w, kRealMediaChunks)) break;
    if (s.offset == 0 && !w.Matches(0, ".RMF"sv)) break;
    if (w.Matches(0, "DATA"sv)) s.phase = 1;
    if (s.phase) ++s.counter;
    s.offset += *size;
  }
  return s.phase && s.offset > 0 ? Sized(s, s.offset) : Invalid(s);
}

RuleResult MpegProgramRule(CarveState& s, const CarveInput& in) { return WalkRecords(s, in, ProgramStep, 32); }

RuleResult TransportStreamRule(CarveState& s, const CarveInput& in) {
  return WalkRecords(s, in, TransportStep, static_cast<std::uint32_t>(kM2tsPacket));
}

int FlashExtent(const ByteCursor& head, std::uint64_t& size) {
  if (!head.Contains(0, kFlashHeader)) return kWalkNeedMore;
  if (!IsFlash(head)) return kWalkMalformed;
  const std::uint64_t stated = head.UncheckedU32(4);
  if (head.Matches(0, "FWS"sv)) return FlashTagWalk(head, stated, size);
  if (head.Matches(0, "CWS"sv)) return FlashInflatedEnd(head, stated, size);
  if (!head.Contains(0, kFlashLzmaHeader)) return kWalkNeedMore;
  const std::uint32_t packed = head.UncheckedU32(8);
  if (packed == 0 || head.UncheckedU8(12) >= kLzmaPropsLimit) return kWalkMalformed;
  size = kFlashLzmaHeader + packed;
  return kWalkOk;
}

// The whole movie is looked at: the window grows until it holds the End
// tag or the end of the deflate stream.
RuleResult FlashRule(CarveState& s, const CarveInput& in) {
  if (s.endPending) return SizedIfPresent(s, in, s.size);
  ByteCursor w;
  const WindowRead r = GrowingWindow(s, in, 0, w);
  if (r != WindowRead::kReady) return NotReady(r, RuleResult::kNone);
  std::uint64_t size = 0;
  switch (FlashExtent(w, size)) {
    case kWalkOk: return SizedIfPresent(s, in, size);
    case kWalkMalformed: return Invalid(s);
    case kWalkNeedMore: return GrowWindow(s, in, 0);
    default: return RuleResult::kNone;
  }
}

RuleResult AviRule(CarveState& s, const CarveInput& in) {
  for (;;) {
    if (s.remembered != 0 && s.offset >= s.remembered) return Sized(s, s.remembered);
    ByteCursor w;
    const WindowRead r = Window(s, in, s.offset, 8, w);
    if (r != WindowRead::kReady) return NotReady(r);
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

namespace {

// The file from its first sector on, through the chunk and the disk.
class CarvedFileReader final : public video::FileReader {
 public:
  CarvedFileReader(const CarveInput& in, std::uint64_t fileLba) : source_(in, fileLba) {}
  bool Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) override {
    return source_.ReadAt(offset, out, length) == length;
  }

 private:
  DeviceCarveSource source_;
};

}  // namespace

// A whole file by its atoms is claimed only when its video samples lie
// where its moov puts them in one run: a recording in pieces is left to
// the gap size (and to the video reassembly).
RuleResult QuickTimeRule(CarveState& s, const CarveInput& in) {
  const RuleResult r = WalkRecords(s, in, QuickTimeStep, 16);
  if (r != RuleResult::kSized || in.disk == nullptr) return r;
  CarvedFileReader file(in, s.fileLba);
  if (video::SamplesHoldContiguously(file, s.size)) return r;
  s.size = 0;
  return RuleResult::kNone;
}

}  // namespace ambrel
