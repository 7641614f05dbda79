// Audio: WAVE, MP3, MIDI, WMA, Ogg and Monkey's Audio.
#include <algorithm>
#include <array>

#include "deepscan/carve/carve_units.h"
#include "deepscan/carve/carve_window.h"
#include "preview/mp3_probe.h"

namespace ambrel {
namespace {

using namespace std::string_view_literals;

// Ogg pages: "OggS", version 0, the header type (1 continued packet,
// 2 first page of a stream, 4 last page), granule, stream serial, page
// number, CRC, the segment count and table, then the segments. A file is
// the pages from the first streams' first pages to the last page of every
// stream begun.
constexpr std::uint64_t kOggHeader = 27;
constexpr std::uint8_t kOggFirst = 2, kOggLast = 4;
constexpr std::uint8_t kOggOpening = 0, kOggData = 1;
constexpr std::uint32_t kOggMaxStreams = 64;

// MIDI: the header chunk states the track count; chunks of any id follow,
// each with its big-endian length.
constexpr std::uint64_t kMidiHeader = 14;

// WAVE: RIFF chunks (id, little-endian length, body padded to even); the
// format chunk comes before the data chunk and holds at least 16 bytes.
constexpr std::uint64_t kWaveFormat = 16;
constexpr std::uint32_t kWaveHeadWindow = 0x10000;

// Monkey's Audio from version 3.98: the descriptor states the lengths of
// every part of the file; an APE tag or an ID3v1 tag may follow.
constexpr std::uint16_t kApeDescriptorVersion = 3980;
constexpr std::uint64_t kApeDescriptor = 52;
constexpr std::uint64_t kApeTagHeader = 32;
constexpr std::uint64_t kId3v1Tag = 128;
constexpr std::uint32_t kApeTagIsHeader = 1u << 29;
// A tag without a header: items (value length, flags, a key of 2 to 255
// printable characters ended by a zero, the value), then the footer,
// which counts the items and states the tag's length without a header.
constexpr std::uint32_t kApeMaxItems = 1000;
constexpr std::uint64_t kApeMaxKey = 255;
constexpr std::uint64_t kApeTagGrowth = 0x10000;

enum class FooterTag : std::uint8_t { kNone, kFound, kMore };

// The length of a header-less tag at the window's start.
FooterTag ApeFooterTag(const ByteCursor& w, std::uint64_t& length) {
  std::uint64_t at = 0;
  for (std::uint32_t items = 0; items <= kApeMaxItems; ++items) {
    if (w.Matches(at, "APETAGEX")) {
      if (!w.Contains(at, kApeTagHeader)) return FooterTag::kMore;
      if (w.UncheckedU32(at + 12) != at + kApeTagHeader || w.UncheckedU32(at + 16) != items ||
          (w.UncheckedU32(at + 20) & kApeTagIsHeader))
        return FooterTag::kNone;
      length = at + kApeTagHeader;
      return FooterTag::kFound;
    }
    const auto value = w.U32(at);
    if (!value || !w.Contains(at, 8)) return FooterTag::kMore;
    std::uint64_t key = 0;
    for (;; ++key) {
      const auto c = w.U8(at + 8 + key);
      if (!c) return FooterTag::kMore;
      if (*c == 0) break;
      if (*c < 0x20 || *c > 0x7E || key >= kApeMaxKey) return FooterTag::kNone;
    }
    if (key < 2) return FooterTag::kNone;
    at += 8 + key + 1 + *value;
  }
  return FooterTag::kNone;
}

// The Ogg CRC: polynomial 0x04C11DB7, not reflected, no final inversion,
// over the page with its CRC field set to zero.
const std::array<std::uint32_t, 256>& OggCrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i << 24;
      for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      t[i] = r;
    }
    return t;
  }();
  return table;
}

std::uint32_t OggPageCrc(const ByteCursor& page) {
  const auto& table = OggCrcTable();
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < page.size(); ++i) {
    const std::uint8_t b = (i >= 22 && i < 26) ? 0 : page.UncheckedU8(i);
    crc = (crc << 8) ^ table[((crc >> 24) ^ b) & 0xFF];
  }
  return crc;
}

// Words: counter, the streams begun and not ended; phase, whether data
// pages came (no stream may begin after them).
std::optional<RuleResult> OggStep(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  std::uint64_t pos = 0;
  for (;;) {
    const auto segments = w.U8(pos + 26);
    if (!segments) {
      need = kOggHeader;
      break;
    }
    if (!w.Matches(pos, "OggS") || w.UncheckedU8(pos + 4) != 0) return Invalid(s);
    const std::uint64_t table = kOggHeader + *segments;
    if (!w.Contains(pos, table)) {
      need = static_cast<std::uint32_t>(table);
      break;
    }
    std::uint64_t body = 0;
    for (std::uint64_t i = 0; i < *segments; ++i) body += w.UncheckedU8(pos + kOggHeader + i);
    const auto page = w.Sub(pos, table + body);
    if (!page) {
      need = static_cast<std::uint32_t>(table + body);
      break;
    }
    if (OggPageCrc(*page) != page->UncheckedU32(22)) return Invalid(s);
    const std::uint8_t type = page->UncheckedU8(5);
    if (type & kOggFirst) {
      if (s.phase == kOggData || ++s.counter > kOggMaxStreams) return Invalid(s);
    } else {
      if (s.counter == 0) return Invalid(s);  // the file starts with a first page
      s.phase = kOggData;
    }
    pos += table + body;
    if (type & kOggLast) {
      if (s.counter == 0) return Invalid(s);
      if (--s.counter == 0) return Sized(s, s.offset + pos);
    }
  }
  s.offset += pos;
  return std::nullopt;
}

// Words: counter, the tracks left.
std::optional<RuleResult> MidiStep(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  std::uint64_t pos = 0;
  if (s.offset == 0) {
    if (!w.Contains(0, kMidiHeader)) {
      need = kMidiHeader;
      return std::nullopt;
    }
    const std::uint32_t length = *w.U32Be(4);
    const std::uint16_t format = *w.U16Be(8), tracks = *w.U16Be(10);
    if (!IsMidi(w) || length < 6 || length > 0x100 || format > 2 || tracks == 0) return Invalid(s);
    s.counter = tracks;
    pos = 8 + std::uint64_t{length};
  }
  for (;;) {
    const auto length = w.U32Be(pos + 4);
    if (!length) {
      need = 8;
      break;
    }
    for (std::uint64_t i = 0; i < 4; ++i) {
      const std::uint8_t c = w.UncheckedU8(pos + i);
      if (c < 0x20 || c > 0x7E) return Invalid(s);
    }
    const bool track = w.Matches(pos, "MTrk");
    pos += 8 + std::uint64_t{*length};
    if (track && --s.counter == 0) return Sized(s, s.offset + pos);
  }
  s.offset += pos;
  return std::nullopt;
}

// Words: phase 0 the descriptor, 1 the tags after the audio.
std::optional<RuleResult> ApeStep(CarveState& s, const ByteCursor& w, bool last, std::uint32_t& need) {
  if (s.phase == 0) {
    if (!w.Contains(0, kApeDescriptor)) {
      need = kApeDescriptor;
      return std::nullopt;
    }
    if (!IsApe(w)) return Invalid(s);
    if (*w.U16(4) < kApeDescriptorVersion) return RuleResult::kNone;  // older files state no lengths
    std::uint64_t total = 0;
    for (std::uint64_t at : {8, 12, 16, 20, 24, 32}) total += *w.U32(at);
    total += std::uint64_t{*w.U32(28)} << 32;
    if (*w.U32(8) < kApeDescriptor || *w.U32(24) == 0) return Invalid(s);
    s.offset = total;
    s.phase = 1;
    need = kApeTagHeader;
    return std::nullopt;
  }
  std::uint64_t pos = 0;
  if (s.phase == 1 && w.Matches(0, "APETAGEX")) {
    if (!w.Contains(0, kApeTagHeader)) {
      need = kApeTagHeader;
      return std::nullopt;
    }
    // A tag led by its header: the header and the size it states.
    if (*w.U32(20) & kApeTagIsHeader) pos = kApeTagHeader + *w.U32(12);
  } else if (s.phase == 1) {
    std::uint64_t length = 0;
    const FooterTag tag = ApeFooterTag(w, length);
    if (tag == FooterTag::kMore && !last && w.size() < kMaxWindowBytes) {
      need = static_cast<std::uint32_t>(std::min<std::uint64_t>(w.size() + kApeTagGrowth, kMaxWindowBytes));
      return std::nullopt;
    }
    if (tag == FooterTag::kFound) pos = length;
  }
  s.phase = 2;
  if (!w.Contains(pos, 3) && !last) {
    s.offset += pos;
    need = 3;
    return std::nullopt;
  }
  if (w.Matches(pos, "TAG")) pos += kId3v1Tag;
  return Sized(s, s.offset + pos);
}

}  // namespace

bool IsWave(const ByteCursor& s) { return s.Matches(8, "WAVE"sv) && s.Matches(12, "fmt"sv); }

bool IsMp3(const ByteCursor& s) {
  const auto version = s.U8(3);
  return s.Matches(0, "ID3"sv) && version && *version >= 2 && *version <= 4;
}

bool IsMidi(const ByteCursor& s) { return s.Matches(0, "MThd"sv); }

bool IsWma(const ByteCursor& s) { return s.Matches(0, "\xFF\xFA\x90\x40"sv) || s.Matches(0, "\xFF\xE3\x20\xC0"sv); }

bool IsOgg(const ByteCursor& s) { return s.Matches(0, "OggS"sv); }

bool IsApe(const ByteCursor& s) { return s.Matches(0, "MAC "sv); }

int WaveExtent(const ByteCursor& head, std::uint64_t& size) {
  if (!head.Contains(0, 12)) return kWalkNeedMore;
  if (!head.Matches(0, "RIFF"sv) || !head.Matches(8, "WAVE"sv)) return kWalkMalformed;
  const std::uint32_t riff = head.UncheckedU32(4);
  const std::uint64_t riffEnd = std::uint64_t{riff} + 8;
  // A recorder that was stopped before it wrote the sizes back leaves 0
  // or all ones: the chunks are still walked, the size is not told.
  const bool unwritten = riff == 0 || riff == 0xFFFFFFFFu;
  const std::uint64_t limit = unwritten ? ~std::uint64_t{0} : riffEnd;
  bool format = false;
  std::uint64_t pos = 12;
  for (;;) {
    const auto length = head.U32(pos + 4);
    if (!length) return kWalkNeedMore;
    for (std::uint64_t i = 0; i < 4; ++i) {
      const std::uint8_t c = head.UncheckedU8(pos + i);
      if (c < 0x20 || c > 0x7E) return kWalkMalformed;
    }
    if (head.Matches(pos, "fmt "sv)) {
      if (*length < kWaveFormat) return kWalkMalformed;
      const auto fmt = head.Sub(pos + 8, kWaveFormat);
      if (!fmt) return kWalkNeedMore;
      // Channels, sample rate and block alignment: none is ever 0.
      if (fmt->UncheckedU16(2) == 0 || fmt->UncheckedU32(4) == 0 || fmt->UncheckedU16(12) == 0)
        return kWalkMalformed;
      format = true;
    } else if (head.Matches(pos, "data"sv)) {
      if (!format) return kWalkMalformed;
      if (unwritten || *length == 0xFFFFFFFFu || pos + 8 + *length > riffEnd) return kWalkUnknown;
      size = riffEnd;
      return kWalkOk;
    }
    pos += 8 + std::uint64_t{*length} + (*length & 1);
    if (pos > limit) return kWalkMalformed;
  }
}

// The RIFF size, once the chunks up to the audio data hold together; the
// chunks before the data must lie in the first 64 KiB.
RuleResult WaveRule(CarveState& s, const CarveInput& in) {
  if (s.endPending) return SizedIfPresent(s, in, s.size);
  ByteCursor w;
  const WindowRead r = Window(s, in, 0, kWaveHeadWindow, w);
  if (r != WindowRead::kReady) return NotReady(r);
  std::uint64_t size = 0;
  const int walk = WaveExtent(w, size);
  if (walk == kWalkOk) return SizedIfPresent(s, in, size);
  if (walk == kWalkMalformed) return Invalid(s);
  return RuleResult::kNone;
}

// The frame walk reads on from the chunk into the disk as far as the
// frames go.
RuleResult Mp3Rule(CarveState& s, const CarveInput& in) {
  DeviceCarveSource source(in, s.fileLba);
  const SizeProbe probe = ProbeMp3(source);
  if (probe.result != kWalkOk) return Invalid(s);
  return Sized(s, probe.size);
}

RuleResult OggRule(CarveState& s, const CarveInput& in) {
  return WalkRecords(s, in, OggStep, static_cast<std::uint32_t>(kOggHeader));
}

RuleResult MidiRule(CarveState& s, const CarveInput& in) {
  return WalkRecords(s, in, MidiStep, static_cast<std::uint32_t>(kMidiHeader));
}

RuleResult ApeRule(CarveState& s, const CarveInput& in) {
  return WalkRecords(s, in, ApeStep, static_cast<std::uint32_t>(kApeDescriptor));
}

}  // namespace ambrel
