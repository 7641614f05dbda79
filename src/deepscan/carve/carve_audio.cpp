// Audio: WAVE, MP3, MIDI, WMA, Ogg and Monkey's Audio.
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

// Monkey's Audio from version 3.98: the descriptor states the lengths of
// every part of the file; an APE tag or an ID3v1 tag may follow.
constexpr std::uint16_t kApeDescriptorVersion = 3980;
constexpr std::uint64_t kApeDescriptor = 52;
constexpr std::uint64_t kApeTagHeader = 32;
constexpr std::uint64_t kId3v1Tag = 128;
constexpr std::uint32_t kApeTagIsHeader = 1u << 29;

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

// A canonical WAVE file: the RIFF size is the data size + 36, so the file
// holds the format chunk and the data chunk only.
RuleResult WaveRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const WindowRead r = Window(s, in, 0, 64, w);
  if (r != WindowRead::kReady) return NotReady(r);
  if (!IsWave(w)) return Invalid(s);
  const auto riff = w.U32(4), data = w.U32(40);
  if (!riff || !data || std::uint64_t{*riff} != std::uint64_t{*data} + 36) return Invalid(s);
  return Sized(s, std::uint64_t{*riff} + 8);
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
