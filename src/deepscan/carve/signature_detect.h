// Recognising the first sector of a file by its signature, and running the
// size rule of its type.
#pragma once

#include <cstdint>
#include <optional>

#include "common/byte_cursor.h"
#include "deepscan/carve/carve_state.h"

namespace ambrel {

struct SignatureMatch {
  std::uint8_t type = 0;   // the type code
  std::uint16_t unit = 0;  // the carving unit (its row of the table)
};

// The first unit whose test holds for the 512-byte sector; nothing for a
// sector of zeros or of 0x7F bytes, or when no test holds.
std::optional<SignatureMatch> DetectSignature(ByteSpan sector);

// Runs (or continues) the size rule of `state.unit` and records its
// answer in `state.result`.
RuleResult SizeRule(CarveState& state, const CarveInput& in);

}  // namespace ambrel
