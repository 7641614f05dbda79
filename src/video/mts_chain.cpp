#include "video/mts_chain.h"

#include <algorithm>
#include <cinttypes>
#include <deque>
#include <optional>

#include "common/text.h"

namespace ambrel::video {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kMinRecordingBytes = 0x100000;
constexpr std::uint64_t kLargeRecordingBytes = 0x100000000ull;
constexpr std::uint32_t kTimeRange = 1u << 30;
// A step of half the clock's range or more runs backwards.
constexpr std::uint32_t kBackwards = 1u << 29;

std::uint32_t TimeStep(std::uint32_t from, std::uint32_t to) { return (to - from) & (kTimeRange - 1); }

std::string FragmentLine(const MtsFragment& f) {
  std::string line = Format("lba: %" PRIu64 "   offset: %u     ", f.startLba, f.startOffset);
  for (std::int8_t c : f.firstCounters) line += Format("%d ", c);
  line += Format("     lba: %" PRIu64 "   offset: %u   ", f.endLba,
                 static_cast<unsigned>(f.endPosition % kSector));
  for (std::int8_t c : f.lastCounters) line += Format("%d ", c);
  return line;
}

// The counters at the chain's two ends: per PID the first counter of the
// earliest fragment that saw it and the last of the latest one (a short
// fragment may hold no packet of the audio or the program table).
MtsFragment ChainCounters(const std::deque<TimedFragment>& chain) {
  MtsFragment ends;
  for (std::size_t i = 0; i < kTrackedPids.size(); ++i) {
    for (const TimedFragment& t : chain)
      if (t.f.firstCounters[i] >= 0) {
        ends.firstCounters[i] = t.f.firstCounters[i];
        break;
      }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
      if (it->f.lastCounters[i] >= 0) {
        ends.lastCounters[i] = it->f.lastCounters[i];
        break;
      }
  }
  return ends;
}

// Bytes after the recording's last packet up to the end of its sector (at
// least one packet's worth) are zero: the slack of a file on a formatted
// card, where a recording that goes on elsewhere would have its next bytes.
bool EndsInSlack(const MtsFragment& f, ByteSource& disk) {
  const std::uint64_t end = f.EndByte();
  const std::uint64_t sectorEnd = (end / kSector + 1) * kSector;
  const std::uint64_t length = std::max<std::uint64_t>(sectorEnd - end, kPacketBytes);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  if (!disk.ReadAt(end, bytes.data(), bytes.size())) return end == disk.End();
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

struct Join {
  std::size_t index = 0;  // in the remaining list
  bool front = false;     // goes before the chain
  std::uint32_t gap = UINT32_MAX;
  TimeVerdict time = TimeVerdict::kUnknown;
  TimedFragment before;   // the fragment before the break, its end trimmed to fit
};

// A fragment's run may have gone on over a packet or two of another file
// after its break (a stray sync byte before a PID it does not follow): the
// fragment ended on a whole packet that far back when the cut then fits.
std::optional<MtsFragment> TrimmedToFit(const MtsFragment& before, const MtsFragment& after) {
  for (std::uint64_t drop = 0; drop <= 2; ++drop) {
    MtsFragment f = before;
    const std::uint64_t cut = drop * kPacketBytes;
    if (f.endPosition < f.startOffset + cut + kMinShortFragmentPackets * kPacketBytes) break;
    f.endPosition -= cut;
    f.endLba = FragmentEndLba(f.startLba, f.endPosition);
    if (CutPacketFits(f, after)) return f;
  }
  return std::nullopt;
}

}  // namespace

TimedFragment ReadFragmentTimes(const MtsFragment& f, ByteSource& disk) {
  TimedFragment t;
  t.f = f;
  std::uint8_t h[4];
  const std::uint64_t first = f.StartByte();
  const std::uint64_t end = f.EndByte();
  if (end < first + 2 * kPacketBytes) return t;
  bool ok = disk.ReadAt(first, h, 4);
  t.firstTime = ArrivalTime(h);
  ok = ok && disk.ReadAt(first + kPacketBytes, h, 4);
  t.secondTime = ArrivalTime(h);
  ok = ok && disk.ReadAt(end - kPacketBytes, h, 4);
  t.lastTime = ArrivalTime(h);
  ok = ok && disk.ReadAt(end - 2 * kPacketBytes, h, 4);
  t.beforeLastTime = ArrivalTime(h);
  t.timed = ok;
  return t;
}

bool StartsRecording(const MtsFragment& f) {
  // Audio may start later than the first fragment ends (muxers delay it).
  return f.startOffset == 0 && f.firstCounters[0] == 0 && f.firstCounters[1] == 0 && f.firstCounters[2] <= 0;
}

bool CountersContinue(const MtsFragment& before, const MtsFragment& after) {
  for (std::size_t i = 0; i < kTrackedPids.size(); ++i) {
    const std::int8_t last = before.lastCounters[i], first = after.firstCounters[i];
    if (first < 0) continue;  // not seen after the break: nothing to compare
    if (NextCounter(last) != first) return false;
  }
  return true;
}

bool CutPacketFits(const MtsFragment& before, const MtsFragment& after) {
  const std::uint64_t boundary = before.endLba * kSector;
  const std::uint64_t end = before.EndByte();
  return end >= boundary && end - boundary == after.startOffset;
}

TimeVerdict TimesRunOn(const TimedFragment& before, const TimedFragment& after, std::uint32_t& gap) {
  gap = UINT32_MAX;
  if (!before.timed || !after.timed) return TimeVerdict::kUnknown;
  // Streams whose own clock does not move forward say nothing.
  if (TimeStep(before.beforeLastTime, before.lastTime) >= kBackwards ||
      TimeStep(after.firstTime, after.secondTime) >= kBackwards)
    return TimeVerdict::kUnknown;
  gap = TimeStep(before.lastTime, after.firstTime);
  return gap >= kBackwards ? TimeVerdict::kBackward : TimeVerdict::kForward;
}

std::vector<Recording> ChainMts(std::vector<MtsFragment> fragments, ByteSource& disk, const RebuildHooks& hooks) {
  std::vector<Recording> out;
  std::sort(fragments.begin(), fragments.end(),
            [](const MtsFragment& a, const MtsFragment& b) { return a.StartByte() < b.StartByte(); });
  std::vector<TimedFragment> remaining;
  remaining.reserve(fragments.size());
  for (const MtsFragment& f : fragments) remaining.push_back(ReadFragmentTimes(f, disk));
  const auto total = static_cast<std::uint32_t>(remaining.size());
  auto log = [&](const std::string& text) {
    if (hooks.log) hooks.log(text);
  };

  while (!remaining.empty()) {
    if (hooks.stopped && hooks.stopped()) return {};
    if (hooks.progress) hooks.progress(total - static_cast<std::uint32_t>(remaining.size()), total);
    std::size_t first = 0;
    for (std::size_t i = 0; i < remaining.size(); ++i)
      if (StartsRecording(remaining[i].f)) {
        first = i;
        break;
      }
    std::deque<TimedFragment> chain{remaining[first]};
    remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(first));
    const bool startFound = StartsRecording(chain.front().f);
    bool certain = startFound;
    std::uint32_t joinsCertain = startFound ? 1 : 0;

    for (;;) {
      const MtsFragment ends = ChainCounters(chain);
      std::vector<Join> joins;
      for (std::size_t i = 0; i < remaining.size(); ++i) {
        const TimedFragment& f = remaining[i];
        // Before the chain, unless the chain begins a recording.
        if (!StartsRecording(chain.front().f) && CountersContinue(f.f, ends))
          if (auto trimmed = TrimmedToFit(f.f, chain.front().f)) {
            Join j;
            j.index = i;
            j.front = true;
            j.before = ReadFragmentTimes(*trimmed, disk);
            j.time = TimesRunOn(j.before, chain.front(), j.gap);
            if (j.time != TimeVerdict::kBackward) joins.push_back(j);
          }
        // After the chain; a fragment that begins a recording never does.
        if (!StartsRecording(f.f) && CountersContinue(ends, f.f))
          if (auto trimmed = TrimmedToFit(chain.back().f, f.f)) {
            Join j;
            j.index = i;
            j.before = ReadFragmentTimes(*trimmed, disk);
            j.time = TimesRunOn(j.before, f, j.gap);
            if (j.time != TimeVerdict::kBackward) joins.push_back(j);
          }
      }
      if (joins.empty()) break;
      // More than one: the arrival times decide (the smallest step forward).
      std::sort(joins.begin(), joins.end(), [](const Join& a, const Join& b) { return a.gap < b.gap; });
      const Join pick = joins.front();
      const bool clear = joins.size() == 1 ||
                         (pick.time == TimeVerdict::kForward && joins[1].gap > pick.gap);
      if (!clear) certain = false;
      else ++joinsCertain;
      if (pick.front) {
        chain.push_front(pick.before);
      } else {
        chain.back() = pick.before;
        chain.push_back(remaining[pick.index]);
      }
      remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(pick.index));
    }

    Recording rec;
    rec.kind = RecordingKind::kTransportStream;
    rec.skip = chain.front().f.startOffset;
    std::string line = "FileFrag(LBA,Size): ";
    std::uint64_t bytes = 0;
    for (std::size_t k = 0; k < chain.size(); ++k) {
      const MtsFragment& f = chain[k].f;
      const bool last = k + 1 == chain.size();
      // The last fragment ends where its last packet ends, not on the
      // sector rule: the recording keeps its exact length.
      const std::uint64_t end = last ? (f.EndByte() + kSector - 1) / kSector : f.endLba;
      if (end <= f.startLba) continue;
      rec.fragments.push_back({f.startLba, end - f.startLba});
      bytes += last ? f.endPosition : (end - f.startLba) * kSector;
      line += Format("[0x%" PRIx64 ",0x%" PRIx64 "]", f.startLba, end);
    }
    if (rec.fragments.empty() || bytes <= rec.skip) continue;
    rec.size = bytes - rec.skip;
    rec.name = RecordingName(rec.fragments.front().startLba, "mts");
    rec.samplesChecked = static_cast<std::uint32_t>(chain.size());
    rec.samplesVerified = std::min(joinsCertain, rec.samplesChecked);
    // Verified: it starts a recording, every join was clear, and it ends
    // where the file ended (a recording cut short would go on elsewhere).
    rec.verified = certain && startFound && EndsInSlack(chain.back().f, disk);
    log(line);
    if (rec.size <= kMinRecordingBytes && rec.size < kLargeRecordingBytes) continue;
    for (const TimedFragment& t : chain) log(FragmentLine(t.f));
    log("------------------------------------------------------------------------ \n");
    out.push_back(std::move(rec));
  }
  if (hooks.progress) hooks.progress(total, total);
  return out;
}

}  // namespace ambrel::video
