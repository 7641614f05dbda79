// The scan-state file "DiskScanData.dat": which chunks a scan analysed and
// every hit found so far, so that a later scan of the same disk resumes.
// Little-endian, no padding: "QVD5", u32 N, N bytes of UTF-16 disk name,
// u32 M, M chunk-map bytes (0 or 2), u64 cursor, u64 first and last chunk
// LBA, u32 K, then the K hit records (u8 kind, u64 lba, u8 status, then the
// kind's payload) in blocks: u32 records (1 to kScanStateBlockHits), u32
// bytes, the records, u32 CRC-32 of the block from its record count on.
// Last comes the CRC-32 of every byte before it. A changed byte anywhere
// fails a checksum; the file is then refused, never half used.
//
// The earlier version "QVD4" has the same header and the K records in a
// row, without blocks or checksums; it is still read (and reported as
// unchecked).
//
// Encoding and decoding are pure functions over spans; writing goes through
// a temporary file that replaces the previous save only when complete.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_cursor.h"
#include "deepscan/scan_hit.h"

namespace ambrel {

inline constexpr const char* kScanStateFileName = "DiskScanData.dat";
inline constexpr std::uint32_t kMaxSavedNameBytes = 510;

inline constexpr std::uint32_t kScanStateBlockHits = 4096;

// The version of a scan-state file.
enum class ScanStateFormat {
  kChecked,    // "QVD5": block and whole-file checksums
  kUnchecked,  // "QVD4": no checksums; what it holds cannot be verified
};

// Why a file could not be used.
enum class ScanStateFault {
  kNone,
  kNotAStateFile,  // neither magic
  kChecksum,       // a block or the whole file does not match its checksum
  kMalformed,      // a count, size or value that cannot be (checksums right, or an unchecked file)
  kOtherDisk,      // the chunk map is not of this disk's size
  kAbandoned,      // the reader's callback stopped the load
};

struct SavedScan {
  ScanStateFormat format = ScanStateFormat::kChecked;
  std::u16string diskName;
  std::vector<std::uint8_t> chunkMap;
  std::uint64_t cursor = 0;
  std::uint64_t rangeFirst = 0;
  std::uint64_t rangeLast = 0;
  HitList hits;  // in file order
};

// The identity of a disk in the file: its full path as UTF-16, cut to 255
// units.
std::u16string SavedDiskName(const std::string& path);

// Told after every hit record written, with the count so far.
using ScanStateWritten = std::function<void(std::uint32_t written)>;
// Told after every hit record read, with the count so far and the count
// in the file; returning false abandons the load.
using ScanStateRead = std::function<bool(std::uint32_t read, std::uint32_t total)>;

// Encodes a scan; map bytes other than 2 are written as 0. `forEachHit`
// calls its argument for every hit in chunk order.
std::vector<std::uint8_t> EncodeScanState(
    const std::u16string& diskName, const std::vector<std::uint8_t>& chunkMap, std::uint64_t cursor,
    std::uint64_t rangeFirst, std::uint64_t rangeLast,
    const std::function<void(const std::function<void(const ScanHit&)>&)>& forEachHit,
    const ScanStateWritten& written = nullptr);

// True when the file starts with either magic and names this disk.
bool NamesDisk(ByteSpan file, const std::u16string& diskName);

// The whole-file check before anything is trusted: kNotAStateFile without
// a magic, kChecksum when a "QVD5" file's last four bytes are not the
// CRC-32 of the rest. An unchecked "QVD4" file passes.
ScanStateFault CheckScanStateFile(ByteSpan file);

// Decodes a file for a disk of `chunkCount` chunks. Absent (nullopt, with
// the reason in `fault` when given) when the magic is wrong, a checksum
// fails, N is odd or above 510, M is not `chunkCount`, a map byte is not 0
// or 2, any count or payload runs past the end or its block, a hit lies in
// a chunk beyond the map, or a kind is unknown. Absent as well when `read`
// abandons the load.
std::optional<SavedScan> DecodeScanState(ByteSpan file, std::uint64_t chunkCount,
                                         const ScanStateRead& read = nullptr, ScanStateFault* fault = nullptr);

// Writes `bytes` to `path` through "path.tmp" and a rename; a failure
// leaves the previous file as it was.
bool WriteScanStateFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace ambrel
