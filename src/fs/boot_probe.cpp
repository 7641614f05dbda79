#include "fs/boot_probe.h"

#include "catalog/partition_info.h"

namespace ambrel {
namespace {

constexpr std::uint32_t kMinFat16Clusters = 4085;  // fewer clusters: 12-bit FAT entries
constexpr std::uint32_t kMaxFat16Clusters = 0xFFF4;

bool IsPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool HasEndMark(const ByteCursor& c) {
  return c.UncheckedU8(510) == 0x55 && c.UncheckedU8(511) == 0xAA;
}

bool HasJump(const ByteCursor& c) {
  return c.UncheckedU8(0) == 0xEB || c.UncheckedU8(0) == 0xE9 || c.UncheckedU8(2) == 0x90;
}

bool IsSectorSize(std::uint32_t bytes) { return bytes >= 512 && bytes <= 4096 && IsPowerOfTwo(bytes); }

// Fills the size fields of a volume verdict; `units` counts the volume's own
// sectors of `bytesPerSector` bytes.
SectorVerdict VolumeVerdict(std::int32_t fsKind, const char* name, std::uint32_t bytesPerSector,
                            std::uint64_t units, std::uint64_t sectorsAvailable) {
  SectorVerdict v;
  v.kind = SectorKind::kVolume;
  v.fsKind = fsKind;
  v.fsName = name;
  v.bytesPerSector = bytesPerSector;
  v.volumeSectors = units * (bytesPerSector / 512);
  v.truncated = sectorsAvailable != 0 && v.volumeSectors > sectorsAvailable;
  return v;
}

// Byte 13 of an NTFS boot sector: 1..128, or 0xF4..0xFF for 2^(256 - v)
// sectors on volumes with clusters of 128 KiB and more.
std::uint32_t NtfsSectorsPerCluster(std::uint8_t v) {
  if (v <= 128) return IsPowerOfTwo(v) ? v : 0;
  if (v >= 0xF4) return 1u << (256 - v);
  return 0;
}

bool FatEntriesFit(std::uint64_t fatBytes, std::uint64_t clusters, unsigned bits) {
  return fatBytes >= ((clusters + 2) * bits + 7) / 8;
}

}  // namespace

SectorVerdict JudgeNtfsBootSector(ByteSpan sector, std::uint64_t sectorsAvailable) {
  if (sector.size() < 512) return {};
  const ByteCursor c(sector.first(512));
  if (!HasEndMark(c) || !HasJump(c)) return {};
  const std::uint32_t bps = c.UncheckedU16(11);
  const std::uint32_t spc = NtfsSectorsPerCluster(c.UncheckedU8(13));
  if (!IsSectorSize(bps) || spc == 0) return {};
  // The FAT fields that NTFS keeps at zero.
  if (c.UncheckedU16(14) != 0 || c.UncheckedU8(16) != 0 || c.UncheckedU16(17) != 0 ||
      c.UncheckedU16(19) != 0 || c.UncheckedU16(22) != 0 || c.UncheckedU32(32) != 0)
    return {};
  const std::uint64_t total = c.UncheckedU64(40);
  const std::uint64_t clusters = total / spc;
  if (total == 0 || total > (std::uint64_t{1} << 48) || clusters == 0) return {};
  if (c.UncheckedU64(48) >= clusters || c.UncheckedU64(56) >= clusters) return {};
  const std::uint64_t clusterBytes = std::uint64_t(spc) * bps;
  if (!DecodeNtfsRecordSize(c.UncheckedU8(64), clusterBytes, bps).Usable() ||
      !DecodeNtfsRecordSize(c.UncheckedU8(68), clusterBytes, bps).Usable())
    return {};
  return VolumeVerdict(kFsNtfs, "NTFS", bps, total, sectorsAvailable);
}

SectorVerdict JudgeFatBootSector(ByteSpan sector, std::uint64_t sectorsAvailable) {
  if (sector.size() < 512) return {};
  const ByteCursor c(sector.first(512));
  if (!HasEndMark(c) || !HasJump(c)) return {};
  const std::uint32_t bps = c.UncheckedU16(11), spc = c.UncheckedU8(13);
  const std::uint32_t reserved = c.UncheckedU16(14), fats = c.UncheckedU8(16);
  const std::uint32_t rootEntries = c.UncheckedU16(17);
  if (!IsSectorSize(bps) || !IsPowerOfTwo(spc) || spc > 128 || reserved == 0 ||
      (fats != 1 && fats != 2))
    return {};
  const std::uint64_t total = c.UncheckedU16(19) != 0 ? c.UncheckedU16(19) : c.UncheckedU32(32);
  const bool fat32 = c.UncheckedU16(22) == 0;
  const std::uint64_t fatSize = fat32 ? c.UncheckedU32(36) : c.UncheckedU16(22);
  if (total == 0 || fatSize == 0) return {};
  if (fat32 ? rootEntries != 0 : rootEntries == 0) return {};
  const std::uint64_t rootSectors = (std::uint64_t(rootEntries) * 32 + bps - 1) / bps;
  const std::uint64_t dataStart = reserved + fats * fatSize + rootSectors;
  if (dataStart >= total) return {};
  const std::uint64_t clusters = (total - dataStart) / spc;
  if (clusters == 0) return {};
  if (fat32) {
    const std::uint32_t root = c.UncheckedU32(44) & 0x0FFFFFFF;
    if (root < 2 || root > clusters + 1 || !FatEntriesFit(fatSize * bps, clusters, 32)) return {};
    return VolumeVerdict(kFsFat32, "FAT32", bps, total, sectorsAvailable);
  }
  if (clusters > kMaxFat16Clusters) return {};
  const bool fat12 = clusters < kMinFat16Clusters;
  if (!FatEntriesFit(fatSize * bps, clusters, fat12 ? 12 : 16)) return {};
  return VolumeVerdict(kFsFat16, fat12 ? "FAT12" : "FAT16", bps, total, sectorsAvailable);
}

SectorVerdict JudgeExfatBootSector(ByteSpan sector, std::uint64_t sectorsAvailable) {
  if (sector.size() < 512) return {};
  const ByteCursor c(sector.first(512));
  if (!HasEndMark(c) || !c.Matches(3, "EXFAT   ")) return {};
  for (std::size_t i = 11; i < 64; ++i)
    if (c.UncheckedU8(i) != 0) return {};
  const std::uint32_t bpsShift = c.UncheckedU8(108), spcShift = c.UncheckedU8(109);
  const std::uint32_t fats = c.UncheckedU8(110);
  if (bpsShift < 9 || bpsShift > 12 || bpsShift + spcShift > 25 || (fats != 1 && fats != 2))
    return {};
  const std::uint64_t length = c.UncheckedU64(72);
  const std::uint64_t fatOffset = c.UncheckedU32(80), fatLength = c.UncheckedU32(84);
  const std::uint64_t heapOffset = c.UncheckedU32(88), clusters = c.UncheckedU32(92);
  const std::uint32_t root = c.UncheckedU32(96);
  if (length == 0 || length > (std::uint64_t{1} << 48) || fatOffset < 24 || fatLength == 0 ||
      clusters == 0)
    return {};
  if (heapOffset < fatOffset + fats * fatLength) return {};
  if (heapOffset + (clusters << spcShift) > length) return {};
  if (root < 2 || root > clusters + 1) return {};
  if ((fatLength << bpsShift) < (clusters + 2) * 4) return {};
  return VolumeVerdict(kFsExfat, "exFat", 1u << bpsShift, length, sectorsAvailable);
}

bool HasValidPartitionSlots(ByteSpan sector) {
  if (sector.size() < 512) return false;
  const ByteCursor c(sector.first(512));
  if (!HasEndMark(c)) return false;
  int used = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t at = 446 + 16 * i;
    const std::uint8_t status = c.UncheckedU8(at), type = c.UncheckedU8(at + 4);
    if (type == 0) continue;
    if ((status != 0x00 && status != 0x80) || c.UncheckedU32(at + 8) == 0 ||
        c.UncheckedU32(at + 12) == 0)
      return false;
    ++used;
  }
  return used > 0;
}

SectorVerdict JudgeSector(ByteSpan sector, std::uint64_t sectorsAvailable) {
  if (sector.size() < 512) return {};
  SectorVerdict v = JudgeNtfsBootSector(sector, sectorsAvailable);
  if (!v.IsVolume()) v = JudgeExfatBootSector(sector, sectorsAvailable);
  if (!v.IsVolume()) v = JudgeFatBootSector(sector, sectorsAvailable);
  const bool slots = HasValidPartitionSlots(sector);
  if (v.IsVolume()) {
    v.tableEntries = slots;
    return v;
  }
  if (!slots) return {};
  const ByteCursor c(sector.first(512));
  for (int i = 0; i < 4; ++i)
    if (c.UncheckedU8(446 + 16 * i + 4) == 0xEE) {
      v.kind = SectorKind::kGptProtective;
      return v;
    }
  v.kind = SectorKind::kPartitionTable;
  return v;
}

const char* FsKindName(std::int32_t kind) {
  switch (kind) {
    case kFsNtfs: return "NTFS";
    case kFsFat16: return "FAT16";
    case kFsFat32: return "FAT32";
    case kFsExfat: return "exFAT";
    default: return "unknown";
  }
}

NtfsRecordSize DecodeNtfsRecordSize(std::uint8_t raw, std::uint64_t clusterBytes, std::uint32_t bytesPerSector) {
  const auto v = static_cast<std::int8_t>(raw);
  if (v == 0) return {0, NtfsRecordSizeProblem::kZero};
  std::uint64_t bytes = 0;
  if (v > 0) {
    // At most 127 clusters of at most 2 MiB: no overflow.
    bytes = std::uint64_t(v) * clusterBytes;
    if (bytes == 0) return {0, NtfsRecordSizeProblem::kZero};
    if (!IsPowerOfTwo(bytes)) return {0, NtfsRecordSizeProblem::kNotPowerOfTwo};
  } else {
    const int shift = -int{v};  // 1..128
    if (shift > 16) return {0, NtfsRecordSizeProblem::kTooLarge};
    bytes = std::uint64_t{1} << shift;
  }
  if (bytes < kMinNtfsRecordBytes) return {0, NtfsRecordSizeProblem::kTooSmall};
  if (bytes > kMaxNtfsRecordBytes) return {0, NtfsRecordSizeProblem::kTooLarge};
  if (bytes < bytesPerSector) return {0, NtfsRecordSizeProblem::kBelowSectorSize};
  return {static_cast<std::uint32_t>(bytes), NtfsRecordSizeProblem::kNone};
}

std::uint32_t NtfsClusterSectors(std::uint8_t raw, std::uint32_t bytesPerSector) {
  const std::uint32_t spc = NtfsSectorsPerCluster(raw);
  if (spc == 0 || !IsSectorSize(bytesPerSector)) return 0;
  const std::uint64_t sectors = std::uint64_t(spc) * (bytesPerSector / 512);
  return sectors <= (1u << 24) ? static_cast<std::uint32_t>(sectors) : 0;
}

}  // namespace ambrel
