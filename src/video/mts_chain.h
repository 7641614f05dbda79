// The rebuild of transport-stream recordings from the fragments the block
// scanner found: fragments are chained where their continuity counters
// continue, the piece of the packet cut at the break fits, and the arrival
// times move on; the arrival times decide between fragments the counters
// all accept.
#pragma once

#include <cstdint>
#include <vector>

#include "video/byte_source.h"
#include "video/mov_rebuild.h"
#include "video/mts_scanner.h"
#include "video/recording.h"

namespace ambrel::video {

// A fragment with the arrival times read at its ends.
struct TimedFragment {
  MtsFragment f;
  bool timed = false;  // the four times below were read
  std::uint32_t firstTime = 0, secondTime = 0;   // first two whole packets
  std::uint32_t beforeLastTime = 0, lastTime = 0;  // last two good packets
};

TimedFragment ReadFragmentTimes(const MtsFragment& f, ByteSource& disk);

// True when the fragment starts a recording: its first whole packet
// starts its sector and the first counters of the program association
// table and the video are 0, and the audio's 0 or not seen yet.
bool StartsRecording(const MtsFragment& f);

// The counters of `before` continue into `after` for every tracked PID
// (-1 + 1 = 0; a PID `after` never saw is no evidence either way). When
// chaining, `before` stands for the chain: per PID its last counter seen.
bool CountersContinue(const MtsFragment& before, const MtsFragment& after);
// The packet that `before` ends with was cut where `after` begins: the
// bytes of it past the break are exactly the bytes `after` skips.
bool CutPacketFits(const MtsFragment& before, const MtsFragment& after);

enum class TimeVerdict : std::uint8_t { kUnknown, kForward, kBackward };
// Whether the arrival times run on from `before` into `after` (unknown when
// either side's own times do not move forward); `gap` is the step.
TimeVerdict TimesRunOn(const TimedFragment& before, const TimedFragment& after, std::uint32_t& gap);

std::vector<Recording> ChainMts(std::vector<MtsFragment> fragments, ByteSource& disk, const RebuildHooks& hooks);

}  // namespace ambrel::video
