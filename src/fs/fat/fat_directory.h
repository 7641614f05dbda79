// Decoding of FAT directory entries (32 bytes each): short 8.3 entries, live
// and deleted long-name runs, and their checksum.
//
// The decoder is a pure function over one directory buffer, so it can be
// handed any directory cluster found anywhere on a disk. ParseFatDirectory
// turns its result into nodes of the partition's table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "catalog/folder_names.h"
#include "app/progress.h"
#include "catalog/found_file_node.h"
#include "catalog/partition_info.h"

namespace ambrel {

inline constexpr std::uint8_t kFatAttrSystem = 0x04;
inline constexpr std::uint8_t kFatAttrVolumeLabel = 0x08;
inline constexpr std::uint8_t kFatAttrLongName = 0x0F;
inline constexpr std::uint8_t kFatAttrDirectory = 0x10;
inline constexpr std::uint8_t kFatDeletedMark = 0xE5;
inline constexpr std::size_t kFatMaxLongName = 260;  // characters

struct FatDirEntry {
  std::string name;          // long name when one was assembled, else 8.3 ('!' first when deleted)
  bool hasLongName = false;
  bool deleted = false;
  bool directory = false;
  std::uint8_t attributes = 0;
  std::uint32_t size = 0;
  std::uint32_t firstCluster = 0;  // FAT16: low word; FAT32: high << 16 | low, masked 0x0FFFFFFF
  PackedTime created = 0;
  PackedTime modified = 0;
  std::uint32_t entryIndex = 0;    // index of the short entry in the buffer
};

// Standard long-name checksum over the 11 bytes of a short name.
std::uint8_t FatShortNameChecksum(const std::uint8_t* shortName11);

// The 8.3 name of a short entry: name bytes up to the first space, '.' and the
// extension up to its first space; each byte one character of the same value.
// A deleted entry gets '!' as its first character.
std::string FatShortName(const std::uint8_t* entry);

// Decodes every listed entry of a directory buffer ("." and ".." dropped;
// attribute 0x00 and volume labels skipped). Stops at the first entry whose
// first byte is 0.
std::vector<FatDirEntry> DecodeFatDirectory(std::span<const std::uint8_t> buffer, bool fat32);

// True for "$RECYCLE.BIN" (12 characters, ASCII case ignored).
bool IsRecycleBinText(const std::string& name);
// The display name of the system recycle bin.
inline constexpr const char* kRecycleBinDisplayName = kRecycleBinFolderName;

// Turns the entries of one directory buffer into unlinked nodes under
// parentId; counts them in `progress` (stage 1, may be null) and publishes
// it. Called on the reader's worker thread.
void ParseFatDirectory(PartitionInfo& partition, const std::uint8_t* buffer, std::size_t length,
                       ScanProgress* progress, std::uint32_t parentId);

// Counts an added node of `kind` in the stage-1 counters and publishes them.
void CountParsedNode(ScanProgress* progress, NodeKind kind);

// The first sector of a subdirectory's first cluster as formatting and
// every system write it: a "." entry, then "..", both with the directory
// attribute (no label or long-name bits), "." naming `cluster` itself and
// ".." the root (0) or another cluster up to `highestCluster`. FAT12/16
// entries keep the high cluster word zero. Pure, over cut bytes too.
bool IsFatFolderStart(std::span<const std::uint8_t> sector, std::uint64_t cluster, std::uint64_t highestCluster,
                      bool fat32);

// Whether a cluster reads as the continuation of a folder: its first entry
// is not the end mark, and every entry before the end mark is a short
// entry with sane attributes and name bytes, or a long-name piece (whose
// cluster field is 0). Pure, over untrusted bytes.
bool ContinuesFatFolder(std::span<const std::uint8_t> cluster);

// The volume label of a root directory: its first live entry with the
// label attribute (long-name pieces excluded), blanks trimmed; empty when
// there is none before the end mark.
std::string FatDirectoryLabel(std::span<const std::uint8_t> root);

}  // namespace ambrel
