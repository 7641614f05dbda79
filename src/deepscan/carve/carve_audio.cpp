// Audio: WAVE, MP3, MIDI, WMA, Ogg and Monkey's Audio.
#include "deepscan/carve/carve_units.h"
#include "deepscan/carve/carve_window.h"
#include "preview/mp3_probe.h"

namespace ambrel {

using namespace std::string_view_literals;

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
int WaveRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const int r = Window(s, in, 0, 64, w);
  if (r != kWindowReady) return r;
  if (!IsWave(w)) return Invalid(s);
  const auto riff = w.U32(4), data = w.U32(40);
  if (!riff || !data || std::uint64_t{*riff} != std::uint64_t{*data} + 36) return Invalid(s);
  return Sized(s, std::uint64_t{*riff} + 8);
}

// The frame walk reads on from the chunk into the disk as far as the
// frames go.
int Mp3Rule(CarveState& s, const CarveInput& in) {
  DeviceCarveSource source(in, s.fileLba);
  const SizeProbe probe = ProbeMp3(source);
  if (probe.result != kRuleSized) return Invalid(s);
  return Sized(s, probe.size);
}

}  // namespace ambrel
