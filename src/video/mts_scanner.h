// The block scanner of MPEG transport streams in 192-byte packets (a
// 4-byte arrival-time header, then the 188-byte packet that starts with the
// sync byte 0x47). It walks the scanned area in blocks of 2048 packets and
// records runs of packets whose continuity counters never break
// (fragments). Pure over a byte source; the hand thread feeds it chunk by
// chunk.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "video/byte_source.h"

namespace ambrel::video {

inline constexpr std::uint32_t kPacketBytes = 192;
inline constexpr std::uint32_t kBlockPackets = 2048;
inline constexpr std::uint64_t kBlockBytes = std::uint64_t{kPacketBytes} * kBlockPackets;  // 0x60000
// Program association table, video, audio, subtitles.
inline constexpr std::array<std::uint16_t, 4> kTrackedPids = {0x0000, 0x1011, 0x1100, 0x1200};
// A fragment found mid-stream that ends inside its first block is kept
// when it has at least this many packets.
inline constexpr std::uint32_t kMinShortFragmentPackets = 32;

using PidCounters = std::array<std::int8_t, 4>;  // -1: not seen

struct MtsFragment {
  bool recordingStart = false;  // found by the start test (kind 207), else mid-stream (208)
  std::uint64_t startLba = 0;
  std::uint32_t startOffset = 0;  // bytes into the start sector of the first whole packet: 0, 64 or 128
  std::uint64_t endPosition = 0;  // bytes from the start sector to the end of the last good packet
  PidCounters firstCounters{-1, -1, -1, -1};
  std::uint64_t endLba = 0;       // exclusive
  std::uint32_t goodBytes = 0;    // in the block that ended the fragment
  PidCounters lastCounters{-1, -1, -1, -1};

  std::uint64_t StartByte() const { return startLba * 512 + startOffset; }
  std::uint64_t EndByte() const { return startLba * 512 + endPosition; }
  // The 17-word record of the scan's hit store (68 bytes, little-endian)
  // and back; nothing for a record that does not hold together.
  std::vector<std::uint8_t> Encode() const;
  static std::optional<MtsFragment> Decode(const std::vector<std::uint8_t>& bytes);
};

// The sector that ends a fragment whose last good packet ends
// `endPosition` bytes after the start sector: the sector holding that end
// is included when the end lies 320 bytes or more into it.
std::uint64_t FragmentEndLba(std::uint64_t startLba, std::uint64_t endPosition);

// Counter arithmetic on the signed value: -1 (not seen) + 1 is 0.
inline std::int8_t NextCounter(std::int8_t c) { return static_cast<std::int8_t>((c + 1) & 15); }

// The state of a run of packets: the counters per tracked PID, the first
// ones seen, and the arrival clock. A clock whose first step is small runs
// steady: a later step back, or forward by more than 2^24 ticks (0.6 s),
// ends the run (another stream's packet, met where the phases coincide);
// a clock that jumps from the start says nothing.
struct PacketRun {
  PidCounters counters{-1, -1, -1, -1};
  PidCounters first{-1, -1, -1, -1};
  enum class Clock : std::uint8_t { kUnknown, kSteady, kUnusable } clock = Clock::kUnknown;
  bool haveTime = false;
  std::uint32_t lastTime = 0;
};

class MtsBlockScanner {
 public:
  // Starts at absolute byte `start` (a sector start); the area ends where
  // `source` ends.
  explicit MtsBlockScanner(std::uint64_t start) : position_(start) {}
  // Walks on until the position reaches `until` (or the source ends),
  // reading through `source`; fragments that end are appended to `out`.
  void Advance(ByteSource& source, std::uint64_t until, std::vector<MtsFragment>& out);
  // The area has ended: a fragment still open ends where its last whole
  // block ended.
  void Finish(std::vector<MtsFragment>& out);
  std::uint64_t Position() const { return position_; }
  bool InsideFragment() const { return state_ != 0; }

 private:
  bool Search(ByteSource& source, std::uint64_t until);
  bool TryStart(ByteSource& source);
  void Continue(ByteSource& source, std::vector<MtsFragment>& out);
  void EndFragment(std::vector<MtsFragment>& out, std::uint32_t goodBytes);
  std::size_t Load(ByteSource& source, std::uint64_t at, std::size_t length);

  std::uint64_t position_;
  int state_ = 0;  // 0 searching, 1 in a fragment that began a recording, 2 one found mid-stream
  MtsFragment current_;
  PacketRun run_;
  std::uint64_t scanned_ = 0;     // bytes of whole blocks from the fragment's first packet
  std::uint32_t pendingEnd_ = 0;  // good bytes of a fragment shorter than a block
  bool endNow_ = false;
  std::vector<std::uint8_t> buffer_;
};

// Tests up to `packets` packets of `bytes` (packet starts every 192 bytes
// from 0): the sync byte at 4, no transport error or scrambling, the counters of the tracked PIDs continuing
// (-1 + 1 = 0; with `firstFree` a PID's first counter may be anything),
// packets without payload keeping theirs, and the arrival clock. `run` is
// updated through the good packets. The number of good packets before the
// first failure.
std::uint32_t GoodPackets(const std::uint8_t* bytes, std::size_t length, std::uint32_t packets, PacketRun& run,
                          bool firstFree);

// The 30-bit arrival time in a packet's 4-byte header.
inline std::uint32_t ArrivalTime(const std::uint8_t* header) {
  return ((std::uint32_t(header[0]) << 24) | (std::uint32_t(header[1]) << 16) | (std::uint32_t(header[2]) << 8) |
          header[3]) & 0x3FFFFFFF;
}

}  // namespace ambrel::video
