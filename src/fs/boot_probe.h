// Recognition of file-system boot sectors and partition-table sectors by the
// consistency of their own fields and their fit on the device; disk geometry
// (sectors per track, heads) and the media byte are legacy hints and are
// never tested. Pure functions over one 512-byte sector: the one probe that
// device discovery, the volume loaders and the sector classifier share.
#pragma once

#include <cstdint>

#include "common/byte_cursor.h"
#include "device/sector_verdict.h"

namespace ambrel {

// NTFS: zero FAT fields (reserved sectors, FAT count, root entries, 16-bit
// sizes), a power-of-two sector size 512..4096 and cluster size (byte 13: 1
// to 128, or 0xF4.. for 2^(256 - v) sectors), a volume size and MFT and
// MFT-mirror clusters inside it, and a FILE-record size of 256 bytes to
// 64 KiB in either encoding of byte 64 (clusters when positive, 2^-v bytes
// when negative).
SectorVerdict JudgeNtfsBootSector(ByteSpan sector, std::uint64_t sectorsAvailable);
// FAT12/16/32: a jump, a power-of-two sector size 512..4096 and cluster size
// 1..128, reserved sectors > 0, one or two FATs, a total size that holds the
// FATs, root directory and at least one cluster, and FATs large enough for
// every cluster. FAT32 when the 16-bit FAT size is 0 (then no fixed root and
// a root cluster in range); otherwise FAT12 below 4085 clusters, else FAT16.
SectorVerdict JudgeFatBootSector(ByteSpan sector, std::uint64_t sectorsAvailable);
// exFAT: "EXFAT   " at 3, bytes 11..63 zero, sector shift 9..12, cluster
// shift with it at most 25, one or two FATs, the FAT and cluster heap in
// order inside the volume, and the root cluster in the heap.
SectorVerdict JudgeExfatBootSector(ByteSpan sector, std::uint64_t sectorsAvailable);

// What starts at this sector: a file-system boot sector; else a GPT
// protective MBR; else an MBR/EBR whose used slots are all valid (at least
// one); else nothing. A boot sector wins over a partition table, but says in
// `tableEntries` when the slots hold valid entries too (the caller decides by
// what those entries point at).
SectorVerdict JudgeSector(ByteSpan sector, std::uint64_t sectorsAvailable);

// NTFS cluster size from boot byte 13 (1..128 sectors, or 2^(256 - v)
// sectors for 0xF4..0xFF) and the volume's sector size, in 512-byte
// sectors; 0 when either is not valid. The one rule every NTFS reader uses.
std::uint32_t NtfsClusterSectors(std::uint8_t raw, std::uint32_t bytesPerSector);

// The size of an NTFS FILE record (boot byte 0x40) or INDX record (byte
// 0x44), a signed byte: that many clusters when positive, 2^-v bytes when
// negative. Usable only as a power of two from 256 bytes to 64 KiB and at
// least one sector; anything else is refused with its reason, never guessed.
inline constexpr std::uint32_t kMinNtfsRecordBytes = 256;
inline constexpr std::uint32_t kMaxNtfsRecordBytes = 65536;
enum class NtfsRecordSizeProblem : std::uint8_t {
  kNone,
  kZero,             // the byte is 0 (or the cluster size is unknown)
  kNotPowerOfTwo,    // e.g. 3 clusters
  kTooSmall,         // below 256 bytes
  kTooLarge,         // above 64 KiB (0x80 asks for 2^128 bytes)
  kBelowSectorSize,  // a record must hold whole sectors
};
struct NtfsRecordSize {
  std::uint32_t bytes = 0;
  NtfsRecordSizeProblem problem = NtfsRecordSizeProblem::kZero;
  bool Usable() const { return problem == NtfsRecordSizeProblem::kNone; }
};
NtfsRecordSize DecodeNtfsRecordSize(std::uint8_t raw, std::uint64_t clusterBytes, std::uint32_t bytesPerSector);

// The short name of a file-system kind code: "NTFS", "FAT16", "FAT32",
// "exFAT", else "unknown".
const char* FsKindName(std::int32_t kind);

// True when the four MBR slots of `sector` are well formed (status 0x00 or
// 0x80, a non-zero start and size within 2^32 for each used slot) and at
// least one is used; the 0x55AA mark is required.
bool HasValidPartitionSlots(ByteSpan sector);

}  // namespace ambrel
