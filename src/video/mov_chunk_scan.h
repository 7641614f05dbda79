// What the QuickTime reassembly looks for in every chunk of the deep scan:
// ftyp, moov and mdat atoms, the positions where a video sample may start
// (the candidate lists), and picture headers at sector starts. Pure: the
// chunk's bytes in, the finds out; bytes past the chunk come from a source.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

#include "common/byte_cursor.h"
#include "video/byte_source.h"

namespace ambrel::video {

class ChainWords;

// The candidate lists, in the order the rebuild tries them, and the list of
// plausible first NAL units that the rebuild's own checks search.
enum class CandidateList : std::uint8_t {
  kSize = 0,       // units of the length-chain rule
  kStartCode = 1,  // 00 00 01
  kLength2 = 2,    // a 32-bit length of 2 (an access unit delimiter)
  kLength20 = 3,   // a 32-bit length of 32, 36 or 40 at a multiple of 4
  kNalStart = 4,   // a 32-bit length below 2^24 followed by a slice, SEI, parameter set or delimiter header
};
inline constexpr std::size_t kCandidateLists = 5;

struct CandidateSwitches {
  bool size = false;
  bool startCode = false;
  bool length2 = false;
  bool length20 = false;
  bool nalStart = true;
  // The length chain also tries units padded to 8 bytes.
  bool padded = false;
};

enum class AtomKind : std::uint8_t { kFtyp, kMoov, kMdat };

struct AtomFind {
  AtomKind kind = AtomKind::kFtyp;
  std::uint32_t offset = 0;  // byte offset in the chunk
  std::uint64_t size = 0;    // the atom size field (64-bit for a large mdat)
  bool topBit = false;       // ftyp: top bit of the size field
};

struct PictureFind {
  std::uint32_t sector = 0;  // sector index in the chunk
  std::uint8_t type = 0;     // 46 JPEG, 49 TIFF family
};

struct ChunkFinds {
  std::vector<AtomFind> atoms;  // in offset order per kind
  // Per list: byte offsets from the chunk start, ascending, without
  // repeats. Units of the length chain may lie past the chunk (within the
  // chain's 32 MiB window).
  std::array<std::vector<std::uint32_t>, kCandidateLists> candidates;
  std::vector<PictureFind> pictures;
  void Clear();
};

// The window of the length-chain rule: 32 MiB less one sector from the
// chunk start.
inline constexpr std::uint64_t kChainWindowBytes = 0x1FFFE00;

class MovChunkScanner {
 public:
  // Scans `chunk` (whose first byte is at absolute `chunkByte`); `beyond`
  // supplies the bytes past the chunk the length chain needs (null: the
  // chain stops at the chunk end).
  void Scan(ByteSpan chunk, std::uint64_t chunkByte, const CandidateSwitches& on, ByteSource* beyond,
            ChunkFinds& out);

 private:
  void TryChain(ChainWords& words, std::size_t at, bool padded, std::vector<std::uint32_t>& out);
  // Units of kept chains still ahead of the scan (no chain starts at them).
  std::priority_queue<std::uint32_t, std::vector<std::uint32_t>, std::greater<>> used_;
  std::vector<std::uint64_t> units_, paddedUnits_;
};

// The picture header test at a sector start (4 bytes): 49 for TIFF-family
// camera RAW, 46 for JPEG, 0 for neither.
std::uint8_t PictureHeaderType(const std::uint8_t* p);

}  // namespace ambrel::video
