#include "video/atoms.h"

#include <algorithm>
#include <array>

namespace ambrel::video {
namespace {

constexpr std::array<std::uint32_t, 44> kKnownTypes = {
    FourCc("ftyp"), FourCc("moov"), FourCc("mvhd"), FourCc("trak"), FourCc("tkhd"), FourCc("edts"),
    FourCc("mdia"), FourCc("mdhd"), FourCc("hdlr"), FourCc("minf"), FourCc("vmhd"), FourCc("smhd"),
    FourCc("dinf"), FourCc("dref"), FourCc("stbl"), FourCc("stsd"), FourCc("stts"), FourCc("ctts"),
    FourCc("stsc"), FourCc("stsz"), FourCc("stco"), FourCc("stss"), FourCc("esds"), FourCc("mp4a"),
    FourCc("mp4v"), FourCc("avc1"), FourCc("avcC"), FourCc("wave"), FourCc("frma"), FourCc("cmov"),
    FourCc("free"), FourCc("wide"), FourCc("mdat"), FourCc("dcom"), FourCc("cmvd"), FourCc("udta"),
    FourCc("meta"), FourCc("skip"), FourCc("gmhd"), FourCc("tref"), FourCc("gmin"), FourCc("tmcd"),
    FourCc("CNTH"), FourCc("uuid")};

// Seconds from 1904 (QuickTime's epoch) to 1970.
constexpr std::uint32_t kEpochShift = 2082873600u;

bool AlphaNumeric(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The raw tables of one sample table atom, kept until the track ends.
struct RawTables {
  ByteCursor stsz, stsc, stco;
  bool co64 = false;
  bool seen = false;
};

class MoovWalker {
 public:
  // False when an atom header is not valid (inside "udta", where
  // copyright-sign types are usual, the rest of the atom is skipped).
  bool Walk(const ByteCursor& area, int depth, bool lenient = false);
  MoovInfo info;

 private:
  void Header(const ByteCursor& payload);
  void Handler(const ByteCursor& payload);
  void SampleDescription(const ByteCursor& payload);
  void FinishTrack();
  bool BuildSamples(TrackSamples& track) const;

  TrackKind kind_ = TrackKind::kNone;
  TrackSamples current_;
  RawTables tables_;
};

bool IsContainer(std::uint32_t type) {
  switch (type) {
    case FourCc("moov"): case FourCc("trak"): case FourCc("mdia"): case FourCc("minf"):
    case FourCc("udta"): case FourCc("tref"): case FourCc("gmhd"): case FourCc("CNTH"):
    case FourCc("stbl"):
      return true;
    default:
      return false;
  }
}

// The object type indication of an esds payload (after version and flags):
// ES_Descriptor (tag 3) holding a DecoderConfigDescriptor (tag 4).
std::uint8_t EsdsObjectType(const ByteCursor& esds) {
  std::uint64_t at = 4;
  auto descriptor = [&](std::uint8_t tag) -> bool {
    auto t = esds.U8(at);
    if (!t || *t != tag) return false;
    ++at;
    for (int i = 0; i < 4; ++i) {  // the length: up to four 7-bit groups
      auto b = esds.U8(at++);
      if (!b) return false;
      if (!(*b & 0x80)) break;
    }
    return true;
  };
  if (!descriptor(3)) return 0;
  auto flags = esds.U8(at + 2);
  if (!flags) return 0;
  at += 3;
  if (*flags & 0x80) at += 2;                       // depends-on ES id
  if (*flags & 0x40) at += 1 + esds.U8(at).value_or(0);  // URL
  if (*flags & 0x20) at += 2;                       // OCR ES id
  if (!descriptor(4)) return 0;
  return esds.U8(at).value_or(0);
}

// Finds the child atom `type` among the atoms of `area`, one level down
// into "wave" (the sound description extension of QuickTime).
std::optional<ByteCursor> FindChild(const ByteCursor& area, std::uint32_t type, int depth = 0) {
  std::uint64_t at = 0;
  while (area.Contains(at, 8)) {
    auto h = ReadAtomHeader(area, at);
    if (!h || h->size < h->headerBytes || !area.Contains(at, h->size)) return std::nullopt;
    auto payload = area.Sub(at + h->headerBytes, h->size - h->headerBytes);
    if (h->type == type) return payload;
    if (h->type == FourCc("wave") && depth == 0)
      if (auto inner = FindChild(*payload, type, depth + 1)) return inner;
    at += h->size;
  }
  return std::nullopt;
}

}  // namespace

bool IsAtomType(std::uint32_t type) {
  if (std::find(kKnownTypes.begin(), kKnownTypes.end(), type) != kKnownTypes.end()) return true;
  for (int shift = 24; shift >= 0; shift -= 8)
    if (!AlphaNumeric(static_cast<std::uint8_t>(type >> shift))) return false;
  return true;
}

std::optional<AtomHeader> ReadAtomHeader(const ByteCursor& bytes, std::uint64_t at) {
  auto size = bytes.U32Be(at);
  auto type = bytes.U32Be(at + 4);
  if (!size || !type || *size == 0 || !IsAtomType(*type)) return std::nullopt;
  AtomHeader h;
  h.type = *type;
  h.size = *size;
  h.headerBytes = 8;
  if (*size == 1) {
    auto large = bytes.U64Be(at + 8);
    if (!large || *large == 0) return std::nullopt;
    h.size = *large;
    h.headerBytes = 16;
  }
  return h;
}

const std::vector<std::uint64_t>& MoovInfo::VideoOffsets() const {
  static const std::vector<std::uint64_t> kNone;
  if (videoTrack < 0 || static_cast<std::size_t>(videoTrack) >= tracks.size()) return kNone;
  return tracks[static_cast<std::size_t>(videoTrack)].offsets;
}

void MoovWalker::Header(const ByteCursor& p) {
  auto version = p.U8(0);
  if (!version || *version != 0) return;  // only the 32-bit layout is read
  auto created = p.U32Be(4), scale = p.U32Be(12), duration = p.U32Be(16);
  if (!created || !scale || !duration) return;
  // The movie header comes first; a track's header fills in only what the
  // movie's left unknown.
  if (info.creationTime == 0) info.creationTime = *created >= kEpochShift ? *created - kEpochShift : 0;
  if (info.durationSeconds == 0) info.durationSeconds = *scale == 0 ? 0 : *duration / *scale;
}

void MoovWalker::Handler(const ByteCursor& p) {
  auto type = p.U32Be(8);
  if (!type) return;
  switch (*type) {
    case FourCc("vide"): kind_ = TrackKind::kVideo; break;
    case FourCc("soun"): kind_ = TrackKind::kSound; break;
    case FourCc("subp"): kind_ = TrackKind::kSubtitle; break;
    case FourCc("alis"): case FourCc("url "): break;
    default: kind_ = TrackKind::kNone; break;
  }
}

void MoovWalker::SampleDescription(const ByteCursor& p) {
  // version/flags, entry count, then the first entry: size, format.
  auto entrySize = p.U32Be(8);
  auto format = p.U32Be(12);
  if (!entrySize || !format) return;
  current_.codec = *format;
  auto entry = p.Sub(8, *entrySize);
  if (!entry) return;
  switch (*format) {
    case FourCc("avc1"): case FourCc("avc3"): case FourCc("AVC1"): {
      current_.format = SampleFormat::kAvc;
      // The visual sample entry is 86 bytes; its children follow.
      if (auto children = entry->From(86))
        if (auto avcc = FindChild(*children, FourCc("avcC")))
          if (auto b = avcc->U8(4)) current_.nalLengthBytes = static_cast<std::uint8_t>((*b & 3) + 1);
      break;
    }
    case FourCc("hvc1"): case FourCc("hev1"): {
      current_.format = SampleFormat::kHevc;
      if (auto children = entry->From(86))
        if (auto hvcc = FindChild(*children, FourCc("hvcC")))
          if (auto b = hvcc->U8(21)) current_.nalLengthBytes = static_cast<std::uint8_t>((*b & 3) + 1);
      break;
    }
    case FourCc("mp4a"): {
      current_.format = SampleFormat::kAac;
      // The sound sample entry: 36 bytes, 16 more in version 1, 36 in 2.
      const std::uint16_t version = entry->U16Be(16).value_or(0);
      const std::uint64_t skip = version == 1 ? 52 : version == 2 ? 72 : 36;
      if (auto children = entry->From(skip))
        if (auto esds = FindChild(*children, FourCc("esds"))) {
          const std::uint8_t object = EsdsObjectType(*esds);
          if (object == 0x69 || object == 0x6B) current_.format = SampleFormat::kMp3;
        }
      break;
    }
    case FourCc(".mp3"): current_.format = SampleFormat::kMp3; break;
    case FourCc("ac-3"): current_.format = SampleFormat::kAc3; break;
    case FourCc("ec-3"): current_.format = SampleFormat::kEac3; break;
    default: current_.format = SampleFormat::kUnknown; break;
  }
  if (current_.nalLengthBytes == 3) current_.nalLengthBytes = 4;  // 3 is not allowed
}

// The sample offsets of the table: for each sample-to-chunk run, for each
// chunk of the run, the chunk offset is the first sample's and each
// following sample starts where the one before it ends.
bool MoovWalker::BuildSamples(TrackSamples& track) const {
  const ByteCursor& stsz = tables_.stsz;
  const ByteCursor& stsc = tables_.stsc;
  const ByteCursor& stco = tables_.stco;
  auto fixed = stsz.U32Be(4), sampleCount = stsz.U32Be(8);
  auto runCount = stsc.U32Be(4), chunkCount = stco.U32Be(4);
  if (!fixed || !sampleCount || !runCount || !chunkCount) return false;
  if (*sampleCount == 0 || *sampleCount > kMaxTrackSamples) return false;
  if (*fixed == 0 && !stsz.Contains(12, std::uint64_t{*sampleCount} * 4)) return false;
  if (!stsc.Contains(8, std::uint64_t{*runCount} * 12)) return false;
  const unsigned width = tables_.co64 ? 8 : 4;
  if (!stco.Contains(8, std::uint64_t{*chunkCount} * width)) return false;
  if (*runCount == 0 || *chunkCount == 0) return false;

  track.offsets.clear();
  track.sizes.clear();
  track.offsets.reserve(*sampleCount);
  track.sizes.reserve(*sampleCount);
  std::uint32_t sample = 0;
  for (std::uint32_t r = 0; r < *runCount && sample < *sampleCount; ++r) {
    const std::uint32_t firstChunk = *stsc.U32Be(8 + 12ull * r);
    const std::uint32_t perChunk = *stsc.U32Be(12 + 12ull * r);
    std::uint64_t endChunk = std::uint64_t{*chunkCount} + 1;
    if (r + 1 < *runCount) endChunk = std::min<std::uint64_t>(endChunk, *stsc.U32Be(8 + 12ull * (r + 1)));
    if (firstChunk == 0 || perChunk == 0) return false;
    for (std::uint64_t chunk = firstChunk; chunk < endChunk && sample < *sampleCount; ++chunk) {
      std::uint64_t offset = tables_.co64 ? *stco.U64Be(8 + 8 * (chunk - 1)) : *stco.U32Be(8 + 4 * (chunk - 1));
      for (std::uint32_t k = 0; k < perChunk && sample < *sampleCount; ++k, ++sample) {
        const std::uint32_t size = *fixed != 0 ? *fixed : *stsz.U32Be(12 + 4ull * sample);
        track.offsets.push_back(offset);
        track.sizes.push_back(size);
        offset += size;
      }
    }
  }
  return !track.offsets.empty();
}

void MoovWalker::FinishTrack() {
  if (!tables_.seen) return;
  TrackSamples track = std::move(current_);
  track.kind = kind_;
  if (BuildSamples(track)) {
    for (std::size_t i = 0; i < track.offsets.size(); ++i)
      info.mediaEnd = std::max(info.mediaEnd, track.offsets[i] + track.sizes[i]);
    // S comes from the first video track; later tracks do not change it.
    if (track.kind == TrackKind::kVideo && info.videoTrack < 0) {
      info.videoTrack = static_cast<int>(info.tracks.size());
      info.lastSampleOffset = track.offsets.back();
    }
    info.tracks.push_back(std::move(track));
  }
  current_ = TrackSamples{};
  tables_ = RawTables{};
}

bool MoovWalker::Walk(const ByteCursor& area, int depth, bool lenient) {
  if (depth > kMaxAtomDepth) return false;
  std::uint64_t at = 0;
  while (area.Contains(at, 8)) {
    auto h = ReadAtomHeader(area, at);
    if (!h || h->size < h->headerBytes || !area.Contains(at, h->size)) return lenient;
    const ByteCursor payload = *area.Sub(at + h->headerBytes, h->size - h->headerBytes);
    switch (h->type) {
      case FourCc("trak"):
        kind_ = TrackKind::kNone;
        current_ = TrackSamples{};
        tables_ = RawTables{};
        if (!Walk(payload, depth + 1)) return false;
        FinishTrack();
        break;
      case FourCc("mvhd"): case FourCc("mdhd"): Header(payload); break;
      case FourCc("hdlr"): Handler(payload); break;
      case FourCc("stsd"): SampleDescription(payload); break;
      case FourCc("stsz"): tables_.stsz = payload; tables_.seen = true; break;
      case FourCc("stsc"): tables_.stsc = payload; break;
      case FourCc("stco"): tables_.stco = payload; tables_.co64 = false; break;
      case FourCc("co64"): tables_.stco = payload; tables_.co64 = true; break;
      default:
        if (IsContainer(h->type) && !Walk(payload, depth + 1, lenient || h->type == FourCc("udta")))
          return false;
        break;
    }
    at += h->size;
  }
  return true;
}

std::optional<MoovInfo> WalkMoov(ByteSpan moov) {
  const ByteCursor bytes(moov);
  auto h = ReadAtomHeader(bytes, 0);
  if (!h || h->type != FourCc("moov") || h->size < h->headerBytes || h->size >= kMaxMoovBytes ||
      !bytes.Contains(0, h->size))
    return std::nullopt;
  MoovWalker walker;
  if (!walker.Walk(*bytes.Sub(h->headerBytes, h->size - h->headerBytes), 1)) return std::nullopt;
  walker.info.size = h->size;
  if (walker.info.videoTrack < 0) return std::nullopt;
  return std::move(walker.info);
}

}  // namespace ambrel::video
