// The state of one size rule while it runs, and what it reads from: the
// chunk being analysed, the disk behind it and the end of the scanned area.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "deepscan/sector_hit.h"

namespace ambrel {

// What a size rule answers. The number is the hit's status (and is kept
// in the scan-state file): StatusOf converts where the result is stored.
enum class RuleResult : std::uint8_t {
  kNone = 0,     // no rule, or the size cannot be told
  kPending = 3,  // the wanted bytes lie beyond the chunk
  kSized = 4,    // the size is known
  kInvalid = 5,  // not a valid file of the type
};
constexpr std::uint8_t StatusOf(RuleResult r) { return static_cast<std::uint8_t>(r); }

// What reading a rule's window answers.
enum class WindowRead : std::uint8_t {
  kReady,     // the bytes are in hand (fewer when the scanned area ends first)
  kPending,   // they lie in a chunk not read yet (windowFirst / windowLast set)
  kPastArea,  // the window starts past the scanned area
};

struct CarveState {
  std::uint32_t type = 0;        // type code; a rule may refine it
  RuleResult result = RuleResult::kNone;  // last result of the rule
  std::uint64_t fileLba = 0;     // first sector of the file
  std::uint64_t size = 0;        // bytes, once known
  std::uint64_t offset = 0;      // byte offset in the file where the rule reads next
  std::uint32_t need = 0;        // bytes wanted at `offset`
  std::uint64_t windowFirst = 0; // sectors of the wanted bytes (result 3)
  std::uint64_t windowLast = 0;
  // Rule-private words.
  std::uint32_t counter = 0;
  std::uint64_t remembered = 0;
  std::uint64_t mark = 0;
  std::uint8_t phase = 0;
  // The size is found; its last byte is waited for (a size is known only
  // once the bytes up to it have been seen).
  bool endPending = false;
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
