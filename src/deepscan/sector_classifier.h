// Recognition of the on-disk structures from which lost partitions and
// directory trees are rebuilt: partition tables, file-system boot sectors,
// NTFS FILE and INDX records, FAT directory clusters, exFAT directory entry
// sets and the GPT header. Pure functions over one 512-byte sector; any
// thread.
#pragma once

#include <cstdint>

#include "common/byte_cursor.h"

namespace ambrel {

// Sets `kind` to 238 first; true with a sector kind (221..236) when the
// sector holds a structure. Sectors ending in 55 AA are judged only as boot
// sectors (by the consistency of their fields) or partition tables.
bool ClassifySector(ByteSpan sector, std::uint64_t lba, std::uint8_t& kind);

// One MBR/EBR slot that may describe a partition: type 1..28, a non-zero
// start, at least 16384 sectors and a boot flag of 0 or 0x80.
bool IsPartitionEntryCandidate(ByteSpan entry16);
// Some one of the four slots at 446 is a candidate.
bool HasPartitionEntryCandidate(ByteSpan sector);

// The 11-byte FAT volume label of a directory entry reads as text (ASCII,
// or GBK double-byte characters in the first ten bytes).
bool IsLabelText(ByteSpan label11);
// The exFAT entry-set test over the 16 entries of a sector from entry
// `first` (0 or 3): true when at least one complete file set is found
// before anything that cannot belong to a directory.
bool HasExfatEntrySet(ByteSpan sector, unsigned first);
// A volume-label entry (0x03 / 0x83) with at most 15 non-zero characters
// followed by zeros.
bool IsExfatLabelEntry(ByteSpan entry32);

}  // namespace ambrel
