// Turning a classified sector into a hit of its chunk, with the payload its
// kind carries. Runs on the analysing thread of the deep scan.
#pragma once

#include <array>
#include <cstdint>

#include "common/byte_cursor.h"
#include "deepscan/scan_hit.h"

namespace ambrel {

// At most this many hits of one payload kind (sector copies, FILE-record
// summaries) are kept per chunk; the rest are only counted, so a device
// full of copies of one structure cannot exhaust memory.
inline constexpr std::uint32_t kPayloadHitsPerKind = 64;
// FILE-record summaries: one per 1 KiB record slot of a chunk, so that a
// chunk of a real MFT keeps every record (the loose-record rebuild needs
// runs of them).
inline constexpr std::uint32_t kRecordSummariesPerChunk = kChunkBytes / 1024;

// What a hit needs beyond the chunk: reads of the disk (a FILE record in
// the chunk's last sector, the GPT entry array) and the priority hint.
class SectorHitSource {
 public:
  virtual ~SectorHitSource() = default;
  // Reads `count` 512-byte sectors at absolute `lba`; false on failure.
  virtual bool ReadDisk(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) = 0;
  virtual void PushHint(std::uint64_t lba) = 0;
};

// One chunk being analysed: its data (up to 16384 sectors; shorter when the
// read was clipped at the partition end) and its first LBA.
struct ChunkData {
  ByteSpan bytes;
  std::uint64_t firstLba = 0;
};

// The hits of one chunk, with the payload count per kind for the cap.
struct ChunkHitBuilder {
  HitList hits;
  RecordSummaryArena arena;  // the FILE-record summaries of `hits`
  std::array<std::uint32_t, 256> payloadHits{};
};

enum class HitOutcome {
  kNone,      // no hit: its payload could not be built (FILE, INDX)
  kAppended,  // appended to the chunk's hits
  kCounted,   // over the cap: counted but not kept
};

// Builds the hit of the sector at `index` of `chunk` (LBA `lba`) classified
// as `kind` (221..236). The caller counts every outcome but kNone.
HitOutcome MakeSectorHit(const ChunkData& chunk, std::uint32_t index, std::uint64_t lba,
                         std::uint8_t kind, SectorHitSource& source, ChunkHitBuilder& out);

}  // namespace ambrel
