// QuickTime / MP4 atoms: the header test and the walk of a "moov" atom
// into the sample tables of its tracks. Pure decoders over untrusted
// bytes: every count is bounded by the payload that holds it, children
// stay inside their parent and the walk goes at most 16 levels deep.
// Media fields are big-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel::video {

constexpr std::uint32_t FourCc(const char (&s)[5]) {
  return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
         (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
}

// The largest moov the scan reads (32 MiB, exclusive).
inline constexpr std::uint64_t kMaxMoovBytes = 0x2000000;
// Samples per track beyond which a table is refused.
inline constexpr std::uint32_t kMaxTrackSamples = 0x400000;
inline constexpr int kMaxAtomDepth = 16;

// A type is an atom type when it is one of the known types, or when its
// four characters are ASCII letters or digits.
bool IsAtomType(std::uint32_t type);

struct AtomHeader {
  std::uint64_t size = 0;        // whole atom, header included
  std::uint32_t type = 0;
  std::uint32_t headerBytes = 0; // 8, or 16 with a 64-bit size
};
// The header at `at`: a size that is not 0, an atom type, and for a size of
// 1 a 64-bit size that is not 0. The size is not checked against the span.
std::optional<AtomHeader> ReadAtomHeader(const ByteCursor& bytes, std::uint64_t at);

enum class TrackKind : std::uint8_t { kNone, kVideo, kSound, kSubtitle };

// How a sample of a track can be recognised at its position.
enum class SampleFormat : std::uint8_t {
  kUnknown,  // no test: the bytes are not checked
  kAvc,      // length-prefixed H.264 NAL units
  kHevc,     // length-prefixed H.265 NAL units
  kAac,      // a raw AAC frame (or an ADTS frame)
  kMp3,      // an MPEG audio frame
  kAc3,      // one AC-3 sync frame
  kEac3,     // E-AC-3 sync frames
};

struct TrackSamples {
  TrackKind kind = TrackKind::kNone;
  std::uint32_t codec = 0;         // the first sample description's format
  SampleFormat format = SampleFormat::kUnknown;
  std::uint8_t nalLengthBytes = 4; // from avcC / hvcC
  std::vector<std::uint64_t> offsets;  // file offsets, in sample order
  std::vector<std::uint32_t> sizes;
};

struct MoovInfo {
  std::uint64_t position = 0;      // absolute byte position of the header (set by the caller)
  std::uint64_t size = 0;          // bytes
  std::uint32_t creationTime = 0;  // seconds since 1970 (0: unknown)
  std::uint32_t durationSeconds = 0;
  std::uint64_t lastSampleOffset = 0;  // file offset of the last video sample
  std::uint64_t mediaEnd = 0;          // end of the last sample of any track
  std::vector<TrackSamples> tracks;
  int videoTrack = -1;             // the track whose samples make S
  // S: the file offsets of the video samples.
  const std::vector<std::uint64_t>& VideoOffsets() const;
  std::uint32_t OffsetInSector() const { return static_cast<std::uint32_t>(position % 512); }
};

// Walks the moov atom whose bytes (from its header on) are `moov`. Null
// when the header is not a moov, its size runs past the bytes, or no video
// track with samples was found.
std::optional<MoovInfo> WalkMoov(ByteSpan moov);

}  // namespace ambrel::video
