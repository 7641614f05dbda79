#include "deepscan/carve/signature_detect.h"

#include <array>
#include <vector>

#include "deepscan/carve/carve_units.h"

namespace ambrel {
namespace {

// For every value of byte 0, the units whose test can hold, in table order.
struct FirstByteIndex {
  std::array<std::vector<std::uint16_t>, 256> units;

  FirstByteIndex() {
    const auto& table = CarveUnitTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
      const std::string_view first = table[i].firstBytes;
      for (unsigned b = 0; b < 256; ++b) {
        if (first.empty() || first.find(static_cast<char>(b)) != std::string_view::npos)
          units[b].push_back(static_cast<std::uint16_t>(i));
      }
    }
  }
};

const FirstByteIndex& Index() {
  static const FirstByteIndex index;
  return index;
}

// A sector that starts with eight bytes of 0 or 0x7F is filler.
bool IsFiller(const ByteCursor& s) {
  const auto a = s.U32(0), b = s.U32(4);
  return a && b && ((*a == 0 && *b == 0) || (*a == 0x7F7F7F7Fu && *b == 0x7F7F7F7Fu));
}

}  // namespace

std::optional<SignatureMatch> DetectSignature(ByteSpan bytes) {
  const ByteCursor sector(bytes);
  if (sector.size() < 512 || IsFiller(sector)) return std::nullopt;
  const auto& table = CarveUnitTable();
  for (std::uint16_t unit : Index().units[sector.UncheckedU8(0)]) {
    if (table[unit].test(sector)) return SignatureMatch{table[unit].type, unit};
  }
  return std::nullopt;
}

RuleResult SizeRule(CarveState& state, const CarveInput& in) {
  const auto& table = CarveUnitTable();
  RuleResult result = RuleResult::kNone;
  if (state.unit < table.size() && table[state.unit].size) result = table[state.unit].size(state, in);
  state.result = result;
  return result;
}

}  // namespace ambrel
