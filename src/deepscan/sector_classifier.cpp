#include "deepscan/sector_classifier.h"

#include "deepscan/scan_hit.h"
#include "catalog/partition_info.h"
#include "fs/boot_probe.h"
#include "fs/ntfs/ntfs_record.h"

namespace ambrel {
namespace {

constexpr std::size_t kSector = 512;

std::uint8_t BootKindOf(const SectorVerdict& v) {
  switch (v.fsKind) {
    case kFsNtfs: return kHitNtfsBoot;
    case kFsFat32: return kHitFat32Boot;
    case kFsFat16: return kHitFat16Boot;  // FAT12 volumes too: the FAT16 reader lists them
    case kFsExfat: return kHitExfatBoot;
    default: return kHitDead;
  }
}

// A boot sector, else a partition table (an MBR at LBA 0, an EBR elsewhere).
bool ClassifyMarkedSector(ByteSpan sector, std::uint64_t lba, std::uint8_t& kind) {
  SectorVerdict v = JudgeNtfsBootSector(sector, 0);
  if (!v.IsVolume()) v = JudgeFatBootSector(sector, 0);
  if (!v.IsVolume()) v = JudgeExfatBootSector(sector, 0);
  if (v.IsVolume()) {
    kind = BootKindOf(v);
    return kind != kHitDead;
  }
  if (!HasPartitionEntryCandidate(sector)) return false;
  kind = lba == 0 ? kHitMbr : kHitEbr;
  return true;
}

// A FILE record of the size its header states (1024 bytes usually, 4096 on
// volumes made for 4 KiB sectors): the first attribute follows the update
// sequence array, 8-aligned, at 0x38 for 1024-byte records.
bool IsFileRecordStart(const ByteCursor& c) {
  if (!c.Matches(0, "FILE")) return false;
  const std::uint32_t recordBytes = StatedRecordBytes(c.span());
  if (recordBytes == 0) return false;
  const std::uint32_t arrayEnd = c.UncheckedU16(0x04) + 2u * c.UncheckedU16(0x06);
  const std::uint32_t firstAttribute = c.UncheckedU16(0x14);
  if (firstAttribute % 8 != 0 || firstAttribute < 0x38 || firstAttribute < arrayEnd || firstAttribute > 0x1F8)
    return false;
  const std::uint32_t used = c.UncheckedU32(0x18);
  if (used > recordBytes || used % 8 != 0) return false;
  const std::uint32_t first = c.UncheckedU32(firstAttribute);
  return first == 0x10 || first == 0x20 || first == 0x30 || first == 0x50 || first == 0x80 ||
         first == 0xFFFFFFFF;
}

bool AllZero(const ByteCursor& c, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i <= to; ++i)
    if (c.UncheckedU8(i) != 0) return false;
  return true;
}

// The volume-label entry that opens a FAT root directory: attribute 0x08,
// no first cluster (high word at 20, low word at 26) and size 0. Its time
// stamps (13..19, 22..25) are not tested: mkfs.fat and most systems fill
// them in.
bool IsFatRootStart(const ByteCursor& c) {
  return c.UncheckedU8(11) == 0x08 && c.UncheckedU16(20) == 0 && c.UncheckedU16(26) == 0 &&
         c.UncheckedU32(28) == 0 && IsLabelText(c.span().first(11));
}

bool IsExfatEntryType(std::uint8_t t) {
  return t == 0x03 || t == 0x05 || t == 0x40 || t == 0x41 || t == 0x83 || t == 0x85 ||
         t == 0xC0 || t == 0xC1;
}

bool IsExfatRootStart(const ByteCursor& c) {
  const std::uint8_t t = c.UncheckedU8(0);
  return (t == 0x83 || t == 0x03) && c.UncheckedU8(32) == 0x81 && c.UncheckedU8(64) == 0x82 &&
         IsExfatLabelEntry(c.span().first(32)) && HasExfatEntrySet(c.span(), 3);
}

bool ClassifyUnmarkedSector(const ByteCursor& c, std::uint64_t lba, std::uint8_t& kind) {
  if (IsFileRecordStart(c)) {
    kind = kHitFileRecord;
  } else if (c.Matches(0, ".   ") && c.Matches(32, "..  ")) {
    kind = kHitFatDirectory;
  } else if (c.Matches(0, "INDX")) {
    kind = kHitIndxRecord;
  } else if (IsFatRootStart(c)) {
    kind = kHitFatRootDirectory;
  } else if (IsExfatRootStart(c)) {
    kind = kHitExfatRootDirectory;
  } else if (IsExfatEntryType(c.UncheckedU8(0)) && HasExfatEntrySet(c.span(), 0)) {
    kind = kHitExfatDirectory;
  } else if (lba == 1 && c.Matches(0, "EFI PART")) {
    kind = kHitGptHeader;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool IsPartitionEntryCandidate(ByteSpan entry16) {
  const ByteCursor e(entry16);
  if (!e.Contains(0, 16)) return false;
  const std::uint8_t flag = e.UncheckedU8(0), type = e.UncheckedU8(4);
  return type >= 1 && type <= 0x1C && e.UncheckedU32(8) != 0 && e.UncheckedU32(12) >= 16384 &&
         (flag == 0 || flag == 0x80);
}

bool HasPartitionEntryCandidate(ByteSpan sector) {
  if (sector.size() < kSector) return false;
  for (int i = 0; i < 4; ++i)
    if (IsPartitionEntryCandidate(sector.subspan(446 + 16 * i, 16))) return true;
  return false;
}

bool IsLabelText(ByteSpan label11) {
  const ByteCursor c(label11);
  if (!c.Contains(0, 11)) return false;
  std::size_t i = 0;
  while (i <= 10) {
    const std::uint8_t b = c.UncheckedU8(i);
    if (b == 0) return false;
    if ((b >= 0x20 && b <= 0x7E) || b == '\t' || b == '\n' || b == '\r' || i > 9) {
      ++i;
      continue;
    }
    const std::uint16_t pair = c.UncheckedU16(i);  // i <= 9: both bytes lie in the label
    if (pair < 0xA1A1 || pair > 0xFEFE) return false;
    i += 2;
  }
  return true;
}

bool IsExfatLabelEntry(ByteSpan entry32) {
  const ByteCursor e(entry32);
  if (!e.Contains(0, 32)) return false;
  const std::uint8_t t = e.UncheckedU8(0);
  if (t != 0x03 && t != 0x83) return false;
  const std::uint32_t count = e.UncheckedU8(1);
  if (count > 15) return false;
  for (std::uint32_t k = 0; k < count; ++k)
    if (e.UncheckedU16(2 + 2 * k) == 0) return false;
  return AllZero(e, 2 + 2 * count, 31);
}

bool HasExfatEntrySet(ByteSpan sector, unsigned first) {
  const ByteCursor c(sector);
  if (!c.Contains(0, kSector)) return false;
  enum class Expect { kIdle, kStream, kNames } state = Expect::kIdle;
  std::uint32_t remaining = 0, sets = 0;
  for (unsigned n = first; n < 16; ++n) {
    const std::size_t at = n * 32;
    const std::uint8_t t = c.UncheckedU8(at);
    if (t == 0x00) return sets > 0;
    const bool label = t == 0x03 || t == 0x83;
    if (label && !IsExfatLabelEntry(c.span().subspan(at, 32))) return false;
    if (!label && t != 0x05 && t != 0x40 && t != 0x41 && t != 0x85 && t != 0xC0 && t != 0xC1)
      return false;
    if (state == Expect::kIdle) {
      if (t == 0x85 || t == 0x05) {
        remaining = c.UncheckedU8(at + 1);
        state = Expect::kStream;
      }
    } else if (state == Expect::kStream) {
      if (t != 0xC0 && t != 0x40) return false;
      --remaining;
      state = Expect::kNames;
    } else {
      if (t != 0xC1 && t != 0x41) return false;
      if (remaining == 1) {
        ++sets;
        state = Expect::kIdle;
      }
      --remaining;
    }
  }
  return sets > 0;
}

bool ClassifySector(ByteSpan sector, std::uint64_t lba, std::uint8_t& kind) {
  kind = kHitDead;
  if (sector.size() < kSector) return false;
  const ByteCursor c(sector.first(kSector));
  if (c.UncheckedU8(510) == 0x55 && c.UncheckedU8(511) == 0xAA)
    return ClassifyMarkedSector(c.span(), lba, kind);
  return ClassifyUnmarkedSector(c, lba, kind);
}

}  // namespace ambrel
