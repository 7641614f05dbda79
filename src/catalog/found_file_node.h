// The found-file record that every reader produces, and the per-partition
// node table that holds them.
#pragma once

#include <atomic>
#include <cstdint>

namespace ambrel {

// Local date-time packed into 32 bits: second 0-5, minute 6-11, hour 12-16,
// day 17-21, month 22-25, year-1980 26-31. 0 means "no time known".
using PackedTime = std::uint32_t;

// Reserved slots of every node table.
inline constexpr std::uint32_t kLostFolderId = 4;   // "丢失的文件", kind 2
inline constexpr std::uint32_t kRootId = 5;         // ".", kind 3, its own parent
inline constexpr std::uint32_t kMaxNodeId = 0x1FFFFF;
inline constexpr std::uint32_t kMaxClassNodeId = 0x3FFFFF;

inline constexpr std::uint8_t kTypeUnknown = 238;
inline constexpr std::uint8_t kTypeFatDirectory = 231;

// flags bits
inline constexpr std::uint16_t kFlagResident = 1u << 0;
inline constexpr std::uint16_t kFlagCheckMask = 3u << 1;   // 0 unchecked, 1 checked, 2 partly
inline constexpr std::uint16_t kFlagPresent = 1u << 3;
inline constexpr std::uint16_t kFlagDirectory = 1u << 4;
inline constexpr std::uint16_t kFlagFilterHit = 1u << 5;
inline constexpr std::uint16_t kFlagVideoRebuilt = 1u << 6;
inline constexpr std::uint16_t kFlagMarkMask = 3u << 7;

// Node kind = bits 3-4 of flags.
enum NodeKind : std::uint8_t {
  kDeletedFile = 0,
  kPresentFile = 1,
  kDeletedFolder = 2,  // also virtual folders
  kPresentFolder = 3,
};

#pragma pack(push, 1)
struct FoundFileNode {
  std::uint32_t id;             // own slot; 0 on input to AddNode = next free slot
  std::uint32_t parentId;       // 5 for entries of the root
  std::uint32_t childCapacity;
  std::uint32_t childCount;
  std::uint32_t* childIds;      // directories only
  std::uint32_t fileCount;      // files below this directory, all depths
  std::uint32_t firstCluster;   // FAT/exFAT first cluster; NTFS: byte length of `extra`
  std::uint64_t dataSector;     // where the data (or the resident record) begins
  std::uint64_t size;           // bytes
  PackedTime created;
  PackedTime modified;
  char* name;                   // UTF-8, NUL-terminated; null = empty slot
  void* extra;                  // reader-owned block (NTFS: raw run list)
  std::uint32_t extraCount;
  std::uint8_t typeCode;
  std::uint16_t flags;
};
#pragma pack(pop)

// Bytes of a node's `extra` block: a fragment list (rebuilt video, carved
// pieces) counts 16-byte entries in `firstCluster`; an NTFS run list counts
// bytes there.
inline std::uint64_t ExtraBytes(const FoundFileNode& n) {
  if (!n.extra) return 0;
  return (n.flags & kFlagVideoRebuilt) ? std::uint64_t{n.firstCluster} * 16 : n.firstCluster;
}

inline NodeKind KindOf(const FoundFileNode& n) {
  return static_cast<NodeKind>((n.flags >> 3) & 3);
}
inline bool IsFolderKind(NodeKind k) { return k == kDeletedFolder || k == kPresentFolder; }
inline bool IsFileKind(NodeKind k) { return k == kDeletedFile || k == kPresentFile; }
inline void SetKind(FoundFileNode& n, NodeKind k) {
  n.flags = static_cast<std::uint16_t>((n.flags & ~(3u << 3)) | (unsigned(k) << 3));
}
inline unsigned CheckStateOf(const FoundFileNode& n) { return (n.flags >> 1) & 3; }
inline void SetCheckState(FoundFileNode& n, unsigned state) {
  n.flags = static_cast<std::uint16_t>((n.flags & ~kFlagCheckMask) | ((state & 3u) << 1));
}
inline unsigned MarkOf(const FoundFileNode& n) { return (n.flags >> 7) & 3; }

static_assert(sizeof(FoundFileNode) == 79, "FoundFileNode is a packed on-memory record");

// One node of a classification tree (by type, by creation date, by
// modification date). The first five fields have the layout of
// FoundFileNode, so the child-list code serves both. A leaf refers to a found
// file (slot, nodeId); a folder to its name node in catalogue slot 0, 1 or 2.
#pragma pack(push, 1)
struct ClassNode {
  std::uint32_t id;
  std::uint32_t parentId;
  std::uint32_t childCapacity;
  std::uint32_t childCount;
  std::uint32_t* childIds;
  std::uint32_t reserved;   // always 0
  std::uint32_t slot;       // catalogue slot of the referenced node
  std::uint32_t nodeId;     // id of the referenced node in that slot
};
#pragma pack(pop)
static_assert(sizeof(ClassNode) == 36, "ClassNode is a packed on-memory record");

// Packs a local date-time. Out-of-range inputs are clamped: a month outside
// 1-12 or a day outside 1-31 becomes 1, an hour above 23 becomes 23, a minute
// or second above 59 becomes 59; the year is stored as (year - 1980) modulo
// 64 (years before 1900 are stored as 1980).
PackedTime PackPackedTime(int year, int month, int day, int hour, int minute, int second);

struct UnpackedTime {
  int year, month, day, hour, minute, second;
};
inline UnpackedTime UnpackPackedTime(PackedTime t) {
  return UnpackedTime{int(t >> 26) + 1980, int((t >> 22) & 15), int((t >> 17) & 31),
                      int((t >> 12) & 31), int((t >> 6) & 63), int(t & 63)};
}

}  // namespace ambrel
