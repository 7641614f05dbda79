// The state of one size rule while it runs, and what it reads from: the
// chunk being analysed, the disk behind it and the end of the scanned area.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "deepscan/sector_hit.h"

namespace ambrel {

// Results of a size rule (they become the hit's status).
inline constexpr int kRuleNone = 0;       // no rule, or the size cannot be told
inline constexpr int kRulePending = 3;    // the wanted bytes lie beyond the chunk
inline constexpr int kRuleSized = 4;      // the size is known
inline constexpr int kRuleInvalid = 5;    // not a valid file of the type
// ReadWindow's answer when the bytes are in hand.
inline constexpr int kWindowReady = 1;

struct CarveState {
  std::uint32_t type = 0;        // type code; a rule may refine it
  std::uint32_t result = 0;      // last result of the rule
  std::uint64_t fileLba = 0;     // first sector of the file
  std::uint64_t size = 0;        // bytes, once known
  std::uint64_t offset = 0;      // byte offset in the file where the rule reads next
  std::uint32_t need = 0;        // bytes wanted at `offset`
  std::uint64_t windowFirst = 0; // sectors of the wanted bytes (result 3)
  std::uint64_t windowLast = 0;
  // Rule-private words.
  std::uint32_t counter = 0;
  std::uint64_t remembered = 0;
  std::uint8_t phase = 0;
  // The carving unit that runs the rule, and the kind of the stored hit.
  std::uint16_t unit = 0;
  std::uint8_t hitKind = 0;
};

struct CarveInput {
  ChunkData chunk;
  SectorHitSource* disk = nullptr;
  // First sector past the scanned area (reads stop there).
  std::uint64_t areaEndLba = std::numeric_limits<std::uint64_t>::max() / 512;
  // Scratch for the window (reused from rule to rule).
  std::vector<std::uint8_t>* scratch = nullptr;

  std::uint64_t ChunkEndByte() const { return chunk.firstLba * 512 + chunk.bytes.size(); }
  std::uint64_t AreaEndByte() const;
};

}  // namespace ambrel
