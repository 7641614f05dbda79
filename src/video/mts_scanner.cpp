#include "video/mts_scanner.h"

#include <algorithm>
#include <cstring>

namespace ambrel::video {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint32_t kSyncByte = 0x47;
constexpr std::array<std::uint32_t, 3> kPacketPhases = {0, 64, 128};
// The end of a fragment's last packet from this far into its sector on
// counts the sector as the fragment's.
constexpr std::uint64_t kEndSectorRule = 320;
constexpr std::size_t kSearchPiece = 0x100000;
constexpr std::uint64_t kMaxFragmentBytes = std::uint64_t{1} << 44;

int TrackedIndex(std::uint16_t pid) {
  for (std::size_t i = 0; i < kTrackedPids.size(); ++i)
    if (kTrackedPids[i] == pid) return static_cast<int>(i);
  return -1;
}

void PutWord(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t GetWord(const std::vector<std::uint8_t>& in, std::size_t word) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | in[word * 4 + static_cast<std::size_t>(i)];
  return v;
}

bool SyncAt(const std::uint8_t* b, std::uint32_t phase) {
  return b[phase + 4] == kSyncByte && b[phase + 196] == kSyncByte && b[phase + 388] == kSyncByte;
}

constexpr std::uint32_t kSteadyStep = 1u << 22;
constexpr std::uint32_t kMaxStep = 1u << 24;

}  // namespace

std::vector<std::uint8_t> MtsFragment::Encode() const {
  std::vector<std::uint8_t> out;
  out.reserve(68);
  PutWord(out, recordingStart ? 1 : 2);
  PutWord(out, static_cast<std::uint32_t>(startLba));
  PutWord(out, static_cast<std::uint32_t>(startLba >> 32));
  PutWord(out, startOffset);
  PutWord(out, static_cast<std::uint32_t>(endPosition));
  PutWord(out, static_cast<std::uint32_t>(endPosition >> 32));
  for (std::int8_t c : firstCounters) PutWord(out, static_cast<std::uint32_t>(std::int32_t{c}));
  PutWord(out, static_cast<std::uint32_t>(endLba));
  PutWord(out, static_cast<std::uint32_t>(endLba >> 32));
  PutWord(out, goodBytes);
  for (std::int8_t c : lastCounters) PutWord(out, static_cast<std::uint32_t>(std::int32_t{c}));
  return out;
}

std::optional<MtsFragment> MtsFragment::Decode(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 68) return std::nullopt;
  MtsFragment f;
  const std::uint32_t state = GetWord(bytes, 0);
  if (state != 1 && state != 2) return std::nullopt;
  f.recordingStart = state == 1;
  f.startLba = (std::uint64_t{GetWord(bytes, 2)} << 32) | GetWord(bytes, 1);
  f.startOffset = GetWord(bytes, 3);
  f.endPosition = (std::uint64_t{GetWord(bytes, 5)} << 32) | GetWord(bytes, 4);
  f.endLba = (std::uint64_t{GetWord(bytes, 11)} << 32) | GetWord(bytes, 10);
  f.goodBytes = GetWord(bytes, 12);
  for (std::size_t i = 0; i < 4; ++i) {
    const auto first = static_cast<std::int32_t>(GetWord(bytes, 6 + i));
    const auto last = static_cast<std::int32_t>(GetWord(bytes, 13 + i));
    if (first < -1 || first > 15 || last < -1 || last > 15) return std::nullopt;
    f.firstCounters[i] = static_cast<std::int8_t>(first);
    f.lastCounters[i] = static_cast<std::int8_t>(last);
  }
  if (f.startOffset != 0 && f.startOffset != 64 && f.startOffset != 128) return std::nullopt;
  if (f.endPosition <= f.startOffset || f.endPosition > kMaxFragmentBytes) return std::nullopt;
  if (f.startLba > (UINT64_MAX >> 10)) return std::nullopt;
  if (f.endLba != FragmentEndLba(f.startLba, f.endPosition)) return std::nullopt;
  return f;
}

std::uint64_t FragmentEndLba(std::uint64_t startLba, std::uint64_t endPosition) {
  return startLba + endPosition / kSector + (endPosition % kSector >= kEndSectorRule ? 1 : 0);
}

std::uint32_t GoodPackets(const std::uint8_t* bytes, std::size_t length, std::uint32_t packets, PacketRun& run,
                          bool firstFree) {
  for (std::uint32_t k = 0; k < packets; ++k) {
    const std::size_t at = std::size_t{k} * kPacketBytes;
    if (at + kPacketBytes > length) return k;
    const std::uint8_t* p = bytes + at;
    // A recorded stream has no transport errors and no scrambling.
    if (p[4] != kSyncByte || (p[5] & 0x80) || (p[7] & 0xC0)) return k;
    const std::uint32_t time = ArrivalTime(p);
    PacketRun::Clock clock = run.clock;
    if (run.haveTime) {
      const std::uint32_t step = (time - run.lastTime) & 0x3FFFFFFF;
      if (clock == PacketRun::Clock::kUnknown)
        clock = step < kSteadyStep ? PacketRun::Clock::kSteady : PacketRun::Clock::kUnusable;
      else if (clock == PacketRun::Clock::kSteady && step >= kMaxStep)
        return k;
    }
    const auto pid = static_cast<std::uint16_t>(((p[5] & 0x1F) << 8) | p[6]);
    const int index = TrackedIndex(pid);
    if (index >= 0) {
      const auto i = static_cast<std::size_t>(index);
      const auto counter = static_cast<std::int8_t>(p[7] & 15);
      const unsigned control = (p[7] >> 4) & 3;
      if (control == 0) return k;
      const std::int8_t previous = run.counters[i];
      if (!(previous < 0 && firstFree)) {
        // A packet with payload advances the counter; one without keeps it.
        const std::int8_t expected = (control & 1) ? NextCounter(previous) : (previous < 0 ? 0 : previous);
        if (counter != expected) return k;
      }
      run.counters[i] = counter;
      if (run.first[i] < 0) run.first[i] = counter;
    }
    run.clock = clock;
    run.haveTime = true;
    run.lastTime = time;
  }
  return packets;
}

std::size_t MtsBlockScanner::Load(ByteSource& source, std::uint64_t at, std::size_t length) {
  const std::uint64_t end = source.End();
  if (at >= end) return 0;
  length = static_cast<std::size_t>(std::min<std::uint64_t>(length, end - at));
  buffer_.resize(length);
  if (length && !source.ReadAt(at, buffer_.data(), length)) {
    // Unreadable: treated as bytes that hold no packets.
    std::fill(buffer_.begin(), buffer_.end(), 0);
  }
  return length;
}

bool MtsBlockScanner::Search(ByteSource& source, std::uint64_t until) {
  position_ = position_ / kSector * kSector;
  while (position_ < until) {
    const std::uint64_t span = std::min<std::uint64_t>(kSearchPiece, until - position_);
    const std::size_t loaded = Load(source, position_, static_cast<std::size_t>(span) + 128 + 389);
    if (loaded == 0) return false;
    const std::uint8_t* b = buffer_.data();
    for (std::uint64_t s = 0; s < span; s += kSector) {
      if (s + 128 + 389 > loaded) break;
      for (std::uint32_t phase : kPacketPhases) {
        if (SyncAt(b + s, phase)) {
          position_ += s;
          return true;
        }
      }
    }
    position_ += span;
  }
  return false;
}

bool MtsBlockScanner::TryStart(ByteSource& source) {
  const std::size_t loaded = Load(source, position_, static_cast<std::size_t>(kBlockBytes) + 128);
  const std::uint8_t* b = buffer_.data();
  current_ = MtsFragment{};
  current_.startLba = position_ / kSector;
  // A recording's first packet: the program association table, counter 0.
  if (loaded >= 8 && b[0] <= 1 && b[4] == 0x47 && b[5] == 0x40 && b[6] == 0x00 && b[7] == 0x10) {
    PacketRun run;
    if (GoodPackets(b, loaded, kBlockPackets, run, false) == kBlockPackets) {
      state_ = 1;
      current_.recordingStart = true;
      current_.startOffset = 0;
      current_.firstCounters = run.first;
      run_ = run;
      scanned_ = kBlockBytes;
      position_ += kBlockBytes;
      return true;
    }
  }
  for (std::uint32_t phase : kPacketPhases) {
    if (loaded < phase + 197 || b[phase + 4] != kSyncByte || b[phase + 196] != kSyncByte) continue;
    PacketRun run;
    const std::uint32_t good = GoodPackets(b + phase, loaded - phase, kBlockPackets, run, true);
    if (good < kMinShortFragmentPackets) continue;
    state_ = 2;
    current_.recordingStart = false;
    current_.startOffset = phase;
    current_.firstCounters = run.first;
    run_ = run;
    scanned_ = 0;
    if (good == kBlockPackets) {
      scanned_ = kBlockBytes;
      position_ += phase + kBlockBytes;
    } else {
      // Shorter than a block: the fragment ends inside it.
      pendingEnd_ = good * kPacketBytes;
      endNow_ = true;
    }
    return true;
  }
  return false;
}

void MtsBlockScanner::EndFragment(std::vector<MtsFragment>& out, std::uint32_t goodBytes) {
  current_.endPosition = current_.startOffset + scanned_ + goodBytes;
  current_.endLba = FragmentEndLba(current_.startLba, current_.endPosition);
  current_.goodBytes = goodBytes;
  current_.firstCounters = run_.first;  // a PID may first appear after the first block
  current_.lastCounters = run_.counters;
  out.push_back(current_);
  state_ = 0;
  endNow_ = false;
  // The search goes on from the sector that holds the end of the good bytes.
  position_ = current_.EndByte() / kSector * kSector;
}

void MtsBlockScanner::Continue(ByteSource& source, std::vector<MtsFragment>& out) {
  if (endNow_) {
    EndFragment(out, pendingEnd_);
    return;
  }
  const std::size_t loaded = Load(source, position_, static_cast<std::size_t>(kBlockBytes));
  // In a fragment found mid-stream a PID may first show up in a later block
  // (the program table comes every few thousand packets) with any counter;
  // in one that began a recording its first counter is 0.
  const std::uint32_t good = GoodPackets(buffer_.data(), loaded, kBlockPackets, run_, state_ == 2);
  if (good == kBlockPackets) {
    scanned_ += kBlockBytes;
    position_ += kBlockBytes;
    return;
  }
  EndFragment(out, good * kPacketBytes);
}

void MtsBlockScanner::Advance(ByteSource& source, std::uint64_t until, std::vector<MtsFragment>& out) {
  until = std::min(until, source.End());
  while (position_ < until) {
    if (state_ != 0) {
      Continue(source, out);
      // A fragment that runs on past `until` is followed in the next call.
      if (state_ != 0 && position_ >= until) break;
      continue;
    }
    if (!Search(source, until)) break;
    if (!TryStart(source)) position_ += kSector;
  }
}

void MtsBlockScanner::Finish(std::vector<MtsFragment>& out) {
  if (state_ == 0) return;
  EndFragment(out, endNow_ ? pendingEnd_ : 0);
}

}  // namespace ambrel::video
