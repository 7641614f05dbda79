// Images and photos: PNG, GIF, JPEG, Photoshop, bitmaps, the TIFF family of
// camera raw files and Fujifilm raw.
#include <algorithm>
#include <cstring>

#include "deepscan/carve/carve_units.h"
#include "preview/tiff_raw_probe.h"

namespace ambrel {
namespace {

using namespace std::string_view_literals;

// Phases of the JPEG walk: markers up to the start of scan, then the
// search for the end-of-image marker.
constexpr std::uint8_t kJpegMarkers = 0;
constexpr std::uint8_t kJpegScan = 1;
// A marker segment may jump this far past the window before the walk is
// judged broken.
constexpr std::uint64_t kJpegJumpSlack = 0xFFFFF;
constexpr std::uint32_t kTiffProbeWindow = 0x3800000;
constexpr std::uint32_t kTiffGrowStep = 0x800000;  // the growing window's step

// Phase 1 over the window that starts at s.offset: the answer, or -1 when
// the start of scan was reached (s.offset is then its position).
int WalkJpegMarkers(CarveState& s, const ByteCursor& w, const CarveInput& in) {
  const std::uint64_t base = s.offset;
  std::uint64_t at = 0;
  for (;;) {
    while (w.U8(at) == 0xFF && w.U8(at + 1) == 0xFF) ++at;  // fill bytes
    if (!w.Contains(at, 4)) break;
    if (w.UncheckedU8(at) != 0xFF) return Invalid(s);
    const std::uint8_t marker = w.UncheckedU8(at + 1);
    if (marker == 0xD8) {
      at += 2;
      continue;
    }
    if (marker == 0xDA) {
      s.offset = base + at;
      return -1;
    }
    const std::uint16_t length = static_cast<std::uint16_t>((w.UncheckedU8(at + 2) << 8) | w.UncheckedU8(at + 3));
    if (length == 0) return Invalid(s);
    at += 2 + std::uint64_t{length};
  }
  // The walk left the window: by a little, the next window holds it.
  if (at > w.size() && at - w.size() > kJpegJumpSlack) return Invalid(s);
  return GrowWindow(s, in, base + at);
}

// Phase 2: the first FF D9 after the start of scan ends the file.
int FindEndOfImage(CarveState& s, const ByteCursor& w, const CarveInput& in) {
  const std::uint8_t* data = w.data();
  std::size_t at = 0;
  while (w.size() >= 2 && at + 1 < w.size()) {
    const void* hit = std::memchr(data + at, 0xFF, w.size() - 1 - at);
    if (!hit) break;
    at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (data[at + 1] == 0xD9) return Sized(s, s.offset + at + 2);
    ++at;
  }
  // Resume one byte early, so that a marker split by the window end is found.
  const std::uint64_t resume = s.offset + (w.size() > 0 ? w.size() - 1 : 0);
  return GrowWindow(s, in, resume);
}

}  // namespace

bool IsPng(const ByteCursor& s) { return s.Matches(0, "\x89PNG\x0D\x0A\x1A\x0A"sv); }

bool IsGif(const ByteCursor& s) {
  return s.Matches(0, "GIF8"sv) && (s.U8(4) == '7' || s.U8(4) == '9') && s.U8(5) == 'a';
}

bool IsJpeg(const ByteCursor& s) {
  if (!s.Matches(0, "\xFF\xD8\xFF"sv)) return false;
  switch (s.UncheckedU8(3)) {
    case 0xDB: case 0xE0: case 0xE1: case 0xEB: case 0xEE: case 0xFE: case 0xC4: case 0xE9:
      return true;
    default:
      return false;
  }
}

bool IsPhotoshop(const ByteCursor& s) { return s.Matches(0, "8BPS"sv) && s.U32(4) == 0x100u; }

bool IsBitmap(const ByteCursor& s) {
  if (!s.Matches(0, "BM"sv) || s.U8(7) != 0 || s.U8(9) != 0 || s.U8(15) != 0) return false;
  const auto header = s.U8(14);
  return header == 0x0C || header == 0x28 || header == 0x6C || header == 0x7C;
}

bool IsTiffRaw(const ByteCursor& s) {
  return s.Matches(0, "II*\x00"sv) || s.Matches(0, "MM\x00*"sv) || s.Matches(0, "IIRO"sv) ||
         s.Matches(0, "IIU\x00"sv);
}

bool IsFujifilmRaw(const ByteCursor& s) { return s.Matches(0, "FUJIFILM"sv); }

int JpegRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  if (s.phase == kJpegMarkers) {
    const int r = GrowingWindow(s, in, s.offset, w);
    if (r != kWindowReady) return r;
    const int walked = WalkJpegMarkers(s, w, in);
    if (walked >= 0) return walked;
    s.phase = kJpegScan;
  }
  const int r = GrowingWindow(s, in, s.offset, w);
  if (r != kWindowReady) return r;
  return FindEndOfImage(s, w, in);
}

int BitmapRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const int r = Window(s, in, 0, 256, w);
  if (r != kWindowReady) return r;
  const auto dib = w.U32(14);
  if (w.U16(6) != 0 || w.U16(8) != 0 || !dib || (*dib != 40 && *dib != 124)) return Invalid(s);
  const auto size = w.U32(2);
  if (!size || *size < 14 + *dib) return Invalid(s);
  return Sized(s, *size);
}

// The TIFF directories may point anywhere in the file: the window grows
// from the file's start until everything they describe lies inside it, or
// up to the probe's window.
int TiffRawRule(CarveState& s, const CarveInput& in) {
  if (s.remembered > kTiffProbeWindow) s.remembered = kTiffProbeWindow;
  ByteCursor w;
  const int r = GrowingWindow(s, in, 0, w);
  if (r != kWindowReady) return r;
  const bool complete = s.fileLba * 512 + w.size() >= in.AreaEndByte();
  const SizeProbe probe = ProbeTiffRawIn(w.span(), complete);
  if (probe.result == kRulePending) {
    // The directories are re-read from the file's start: a first growth
    // covers a photo cut by a chunk boundary, a second goes straight to the
    // whole probe window.
    if (++s.counter >= 2) {
      const std::uint64_t toAreaEnd = in.AreaEndByte() - s.fileLba * 512;
      const std::uint64_t jump = std::min<std::uint64_t>(kTiffProbeWindow - kTiffGrowStep, toAreaEnd - 1);
      s.remembered = std::max(s.remembered, jump);
    }
    const int grown = GrowWindow(s, in, 0);
    if (grown == kRulePending && s.need > kTiffProbeWindow) {
      s.remembered = s.need = kTiffProbeWindow;
      s.windowFirst = s.windowLast = s.fileLba + kTiffProbeWindow / 512 - 1;
    }
    return grown;
  }
  if (probe.result != kRuleSized) return Invalid(s);
  if (probe.typeCode != 0) s.type = probe.typeCode;
  return Sized(s, probe.size);
}

}  // namespace ambrel
