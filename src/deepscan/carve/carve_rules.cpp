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

int Window(CarveState& s, const CarveInput& in, std::uint64_t offset, std::uint32_t need,
           ByteCursor& out) {
  s.offset = offset;
  s.need = need;
  return ReadWindowCursor(s, in, out);
}

int Sized(CarveState& s, std::uint64_t size) {
  if (size == 0) return Invalid(s);
  s.size = size;
  return kRuleSized;
}

int Invalid(CarveState& s) {
  s.size = 0;
  return kRuleInvalid;
}

int GrowingWindow(CarveState& s, const CarveInput& in, std::uint64_t from, ByteCursor& out) {
  const std::uint64_t fileByte = s.fileLba * 512;
  if (s.remembered == 0) s.remembered = in.ChunkEndByte() - fileByte;
  while (s.remembered <= from) s.remembered += kGrowStep;
  return Window(s, in, from, NeedUpTo(s.remembered, from), out);
}

int GrowWindow(CarveState& s, const CarveInput& in, std::uint64_t from) {
  const std::uint64_t fileByte = s.fileLba * 512;
  if (fileByte + s.remembered >= in.AreaEndByte()) return kRuleNone;
  s.remembered += kGrowStep;
  while (s.remembered <= from) s.remembered += kGrowStep;
  // Never past the scanned area: the chunk holding the window's end must
  // be one the scan reads.
  s.remembered = std::min(s.remembered, in.AreaEndByte() - fileByte);
  if (s.remembered <= from) return kRuleNone;
  s.offset = from;
  s.need = NeedUpTo(s.remembered, from);
  // The rule runs again once the chunk that holds the end of the grown
  // window is read: the whole window is then on hand (what lies before
  // that chunk is read back from the disk once), instead of re-reading a
  // growing window with every chunk in between.
  s.windowFirst = s.windowLast = s.fileLba + (s.offset + s.need - 1) / 512;
  return kRulePending;
}

}  // namespace ambrel
