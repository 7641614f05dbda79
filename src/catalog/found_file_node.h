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

inline NodeKind KindOf(const FoundFileNode& n) {
  return static_cast<NodeKind>((n.flags >> 3) & 3);
}
inline bool IsFolderKind(NodeKind k) { return k == kDeletedFolder || k == kPresentFolder; }
inline bool IsFileKind(NodeKind k) { return k == kDeletedFile || k == kPresentFile; }
inline void SetKind(FoundFileNode& n, NodeKind k) {
  n.flags = static_cast<std::uint16_t>((n.flags & ~(3u << 3)) | (unsigned(k) << 3));
}
inline unsigned CheckStateOf(const FoundFileNode& n) { return (n.flags >> 1) & 3; }

}  // namespace ambrel
