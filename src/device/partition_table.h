// The partition table of a disk or a disk image: MBR (with its chain of
// extended boot records) or GPT. Decoding is split from reading: the Decode*
// functions are pure and work on bytes already read; ReadPartitionTable
// fetches them through ReadSectors.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_cursor.h"
#include "device/disk_handle.h"
#include "device/sector_verdict.h"

namespace ambrel {

enum class TableKind { kNone, kMbr, kGpt };
const char* TableKindName(TableKind kind);  // "none", "mbr", "gpt"

struct TablePartition {
  int number = 0;               // 1-4 primary, 5... logical (MBR); 1... (GPT)
  std::uint64_t startLba = 0;   // absolute
  std::uint64_t sectorCount = 0;
  std::uint8_t mbrType = 0;     // MBR type byte; 0 for GPT
  std::string gptType;          // GPT type GUID as text; empty for MBR
  std::string name;             // GPT partition name (UTF-8)
};

struct PartitionTable {
  TableKind kind = TableKind::kNone;
  std::vector<TablePartition> partitions;
};

// One of the four 16-byte MBR slots.
struct MbrSlot {
  std::uint8_t status = 0;
  std::uint8_t type = 0;
  std::uint32_t startLba = 0;   // relative to the table's base
  std::uint32_t sectorCount = 0;
};
inline bool IsExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// The four slots of an MBR or EBR sector; false without the 0x55AA mark or
// with a status byte other than 0x00 / 0x80 in a used slot.
bool DecodeMbrSlots(ByteSpan sector, std::array<MbrSlot, 4>& slots);

struct GptHeader {
  std::uint64_t currentLba = 0;
  std::uint64_t backupLba = 0;
  std::uint64_t firstUsableLba = 0;
  std::uint64_t lastUsableLba = 0;
  std::uint64_t entriesLba = 0;
  std::uint32_t entryCount = 0;
  std::uint32_t entrySize = 0;
  std::uint32_t entriesCrc = 0;
};
inline constexpr std::uint32_t kMaxGptEntries = 1024;
// "EFI PART", a header size from 92 to 512 with a matching CRC32, entries
// of 128 to 1024 bytes (a multiple of 8) and at most kMaxGptEntries.
bool DecodeGptHeader(ByteSpan sector, GptHeader& header);
// One entry; false for an unused one (zero type) or one whose range is
// inverted. `number` is the 1-based slot.
bool DecodeGptEntry(ByteSpan entry, int number, TablePartition& out);

// Reads the table at LBA 0 of the handle (and LBA 1 for GPT, falling back to
// the backup header in the last sector). Partitions that reach past the
// device's end are dropped. A sector 0 that `judge` takes for a file-system
// boot sector means "no table": the device is one volume; unless its slots
// also hold valid entries and one of them starts at a boot sector too.
// Each extended boot record may hold several logical partitions besides the
// link to the next one.
PartitionTable ReadPartitionTable(DiskHandle& disk, SectorJudge judge);

}  // namespace ambrel
