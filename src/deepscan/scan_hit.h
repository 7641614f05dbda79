// The unit of every deep-scan result: one recognised sector or one file
// signature, recorded per chunk. Sector kinds 221..236 and their payloads,
// signature hits 0..171 (type codes), video records 200..208, 238 dead.
// The numeric kind codes are part of the scan-state file format.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "deepscan/record_summary_arena.h"

namespace ambrel {

// A chunk: 16384 sectors (8 MiB) at an absolute multiple of 16384.
inline constexpr std::uint32_t kChunkSectors = 16384;
inline constexpr std::uint32_t kChunkShift = 14;
inline constexpr std::uint32_t kChunkBytes = kChunkSectors * 512;

enum HitKind : std::uint8_t {
  kHitLastTypeCode = 171,   // 0..171: a file type code found by signature
  kHitFirstVideo = 200,
  kHitLastVideo = 208,
  kHitMbr = 221,
  kHitEbr = 222,
  kHitNtfsBoot = 223,
  kHitFileRecord = 224,
  kHitIndxRecord = 225,
  kHitFat16Boot = 226,
  kHitFat16Table = 227,
  kHitFat32Boot = 228,
  kHitFat32Table = 229,
  kHitFat32FsInfo = 230,
  kHitFatDirectory = 231,
  kHitFatRootDirectory = 232,
  kHitExfatBoot = 233,
  kHitExfatRootDirectory = 234,
  kHitExfatDirectory = 235,
  kHitGptHeader = 236,
  kHitDead = 238,
};

// Status of a signature hit: the size rule's result (0 none, 3 pending,
// 4 size known, 5 invalid or absorbed). Sector kinds keep 0.
enum HitStatus : std::uint8_t { kStatusNone = 0, kStatusPending = 3, kStatusSized = 4,
                                kStatusAbsorbed = 5 };

using SectorCopy = std::array<std::uint8_t, 512>;

struct ScanHit {
  std::uint8_t kind = kHitDead;
  std::uint8_t status = kStatusNone;
  std::uint64_t lba = 0;
  std::uint32_t aux1 = 0;   // kind-dependent; the size's low half for sized signature hits
  std::uint32_t aux2 = 0;
  // Payloads owned by the hit: the sector (MBR, EBR, boot sectors) or the
  // FILE-record summary (packed in its chunk's arena). Video records keep
  // theirs in `extra`.
  std::unique_ptr<SectorCopy> sector;
  RecordSummaryRef record;
  std::vector<std::uint8_t> extra;

  std::uint64_t Size() const { return (std::uint64_t(aux2) << 32) | aux1; }
  std::uint64_t Chunk() const { return lba >> kChunkShift; }
};

using HitList = std::vector<ScanHit>;

// The 512-byte sectors of a FILE-record hit's record, as its header stated
// it (kept in `aux2`, and in the saved scan; a hit read back from a saved
// scan of an older version has none, and its record is taken as the usual
// 1024 bytes).
inline std::uint32_t RecordSectorsOf(const ScanHit& hit) {
  return hit.aux2 >= 1 && hit.aux2 <= 128 && (hit.aux2 & (hit.aux2 - 1)) == 0 ? hit.aux2 : 2;
}

bool IsSignatureKind(std::uint32_t kind);       // 0..171
bool IsSectorKind(std::uint32_t kind);          // 221..236
bool CarriesSectorCopy(std::uint32_t kind);     // 221, 222, 223, 226, 228, 233
bool IsKnownHitKind(std::uint32_t kind);        // any kind a scan produces, 238 included

// The stage-2 progress counter of a sector kind (0 EBR, 1 NTFS boot, 2 FAT
// boot, 3 exFAT boot, 4 FILE, 5 FAT ".", 6 INDX, 7 exFAT set); -1 when the
// kind is not counted.
int ProgressCounterOf(std::uint32_t kind);

// Display name of a kind, 0..236: the type's extension for type codes, the
// structure's name for sector kinds, "***" for the rest (and beyond 236).
const std::string& HitKindName(std::uint32_t kind);

}  // namespace ambrel
