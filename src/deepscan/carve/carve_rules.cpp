// Helpers shared by the size rules.
#include <algorithm>

#include "deepscan/carve/carve_units.h"
#include "deepscan/carve/carve_window.h"

namespace ambrel {
namespace {

constexpr std::uint64_t kGrowStep = 0x800000;

std::uint32_t NeedUpTo(std::uint64_t end, std::uint64_t from) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(end - from, 0xFFFFFFFFu));
}

}  // namespace

WindowRead Window(CarveState& s, const CarveInput& in, std::uint64_t offset, std::uint32_t need,
                  ByteCursor& out) {
  s.offset = offset;
  s.need = need;
  return ReadWindowCursor(s, in, out);
}

RuleResult NotReady(WindowRead r, RuleResult pastArea) {
  return r == WindowRead::kPending ? RuleResult::kPending : pastArea;
}

RuleResult Sized(CarveState& s, std::uint64_t size) {
  if (size == 0) return Invalid(s);
  s.size = size;
  return RuleResult::kSized;
}

RuleResult Invalid(CarveState& s) {
  s.size = 0;
  return RuleResult::kInvalid;
}

RuleResult SizedIfPresent(CarveState& s, const CarveInput& in, std::uint64_t size) {
  if (size == 0) return Invalid(s);
  s.size = size;
  s.endPending = true;
  // An end a little past the chunk is read from the disk at once (the
  // window starts in the chunk), a farther one waits for its chunk.
  const std::uint64_t fileByte = s.fileLba * 512, chunkEnd = in.ChunkEndByte();
  std::uint64_t from = size - 1;
  if (fileByte + from >= chunkEnd && fileByte < chunkEnd && fileByte + size - chunkEnd < kDiskReadWindowLimit)
    from = chunkEnd - 1 - fileByte;
  ByteCursor tail;
  const WindowRead r = Window(s, in, from, static_cast<std::uint32_t>(size - from), tail);
  if (r == WindowRead::kPending) return RuleResult::kPending;
  s.endPending = false;
  if (r != WindowRead::kReady || tail.size() != size - from) return RuleResult::kNone;  // past the scanned area
  return Sized(s, size);
}

RuleResult FromWalk(int walk) {
  switch (walk) {
    case kWalkOk: return RuleResult::kSized;
    case kWalkNeedMore: return RuleResult::kPending;
    case kWalkMalformed: return RuleResult::kInvalid;
    default: return RuleResult::kNone;
  }
}

WindowRead GrowingWindow(CarveState& s, const CarveInput& in, std::uint64_t from, ByteCursor& out) {
  const std::uint64_t fileByte = s.fileLba * 512;
  if (s.remembered == 0) s.remembered = in.ChunkEndByte() - fileByte;
  while (s.remembered <= from) s.remembered += kGrowStep;
  return Window(s, in, from, NeedUpTo(s.remembered, from), out);
}

RuleResult GrowWindow(CarveState& s, const CarveInput& in, std::uint64_t from) {
  const std::uint64_t fileByte = s.fileLba * 512;
  if (fileByte + s.remembered >= in.AreaEndByte()) return RuleResult::kNone;
  s.remembered += kGrowStep;
  while (s.remembered <= from) s.remembered += kGrowStep;
  // Never past the scanned area: the chunk holding the window's end must
  // be one the scan reads.
  s.remembered = std::min(s.remembered, in.AreaEndByte() - fileByte);
  if (s.remembered <= from) return RuleResult::kNone;
  s.offset = from;
  s.need = NeedUpTo(s.remembered, from);
  // The rule runs again once the chunk that holds the end of the grown
  // window is read: the whole window is then on hand (what lies before
  // that chunk is read back from the disk once), instead of re-reading a
  // growing window with every chunk in between.
  s.windowFirst = s.windowLast = s.fileLba + (s.offset + s.need - 1) / 512;
  return RuleResult::kPending;
}

RuleResult WalkRecords(CarveState& s, const CarveInput& in, RecordStep step, std::uint32_t firstNeed) {
  const std::uint64_t fileByte = s.fileLba * 512;
  const std::uint64_t chunkStart = in.chunk.firstLba * 512, chunkEnd = in.ChunkEndByte();
  const std::uint64_t areaEnd = in.AreaEndByte();
  if (s.endPending) return SizedIfPresent(s, in, s.size);
  std::uint32_t need = std::max<std::uint32_t>(firstNeed, 1);
  for (;;) {
    if (s.offset >= areaEnd - std::min(areaEnd, fileByte)) return RuleResult::kNone;
    const std::uint64_t at = fileByte + s.offset;
    // The rest of the chunk when the walk stands in it (looked at in place),
    // else only what the step wants (read from the disk, or waited for).
    std::uint64_t want = need;
    if (at >= chunkStart && at < chunkEnd) want = std::max<std::uint64_t>(want, chunkEnd - at);
    want = std::min<std::uint64_t>(want, kMaxWindowBytes);
    if (want < need) return RuleResult::kNone;  // a record larger than any window
    ByteCursor w;
    const WindowRead r = Window(s, in, s.offset, static_cast<std::uint32_t>(want), w);
    if (r == WindowRead::kPastArea) return RuleResult::kNone;
    if (r != WindowRead::kReady) return RuleResult::kPending;
    const bool last = at + w.size() >= areaEnd;
    const std::uint64_t before = s.offset;
    need = std::max<std::uint32_t>(firstNeed, 1);
    if (const auto answer = step(s, w, last, need)) {
      if (*answer == RuleResult::kSized) return SizedIfPresent(s, in, s.size);
      return *answer;
    }
    if (s.offset < before) return Invalid(s);  // steps only move forward
    if (s.offset == before) {
      // No record was consumed: the step wants more than the window held.
      if (need <= w.size()) return Invalid(s);
      if (last) return RuleResult::kNone;
    }
  }
}

}  // namespace ambrel
