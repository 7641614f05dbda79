#include "fs/fat/fat_reader.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "diag/log.h"
#include "fs/directory_salvage.h"
#include "fs/fat/fat32_high_words.h"
#include "fs/fat/fat_boot_fields.h"
#include "fs/fat/fat_boot_sector.h"
#include "fs/fat/fat_copies.h"
#include "fs/fat/fat_directory.h"
#include "fs/orphan_folders.h"

namespace ambrel {
namespace {

using StopWord = std::atomic<std::uint32_t>;

constexpr std::uint64_t kMaxFatSectors = 0x40000;   // 128 MiB
constexpr std::uint32_t kMaxDirectoryClusters = 1024;
constexpr int kMaxDirectoryDepth = 128;


// FAT size actually loaded: the recorded size, or for an implausible one
// (partition clusters / 8), at most 0x40000 sectors.
std::uint64_t LoadableFatSectors(const FatGeometry& g, const PartitionInfo& partition) {
  std::uint64_t fs = g.fatSectors;
  if (fs > kMaxFatSectors) fs = std::min<std::uint64_t>(partition.sectorCount / g.spc / 8, kMaxFatSectors);
  return fs;
}

bool ReadRange(DiskHandle& handle, std::uint64_t lba, std::uint64_t sectors, std::uint8_t* out) {
  return ReadSectors(handle, lba, static_cast<std::uint32_t>(sectors), out);
}

bool StartsWithDotEntries(const std::vector<std::uint8_t>& buffer) {
  return buffer.size() >= 64 && std::memcmp(buffer.data(), ".          ", 11) == 0 &&
         std::memcmp(buffer.data() + 32, "..         ", 11) == 0;
}

struct FatWalk {
  PartitionInfo& partition;
  DiskHandle& handle;
  const StopWord* stop;
  ScanProgress progress{};
  const ClusterKindTable* kinds = nullptr;  // FAT32 with a completed scan only
  std::unordered_set<std::uint64_t>& visited;
};

// A folder whose own entry is deleted: nothing reachable points at its
// entries any more (the recycle bin is only shown as deleted).
bool IsDeletedFolder(const FoundFileNode& node) {
  return KindOf(node) == kDeletedFolder && node.name &&
         std::strcmp(node.name, kRecycleBinDisplayName) != 0;
}

// The entries read from a deleted folder are deleted, whatever their own
// first byte says.
void MarkDeleted(FoundFileTable& table, std::uint32_t first, std::uint32_t end) {
  for (std::uint32_t id = first; id < end; ++id) {
    FoundFileNode* node = NodeAt(table, id);
    if (node && node->name) SetKind(*node, static_cast<NodeKind>(KindOf(*node) & ~1u));
  }
}

void WalkFatDirectory(FatWalk& walk, std::uint32_t firstCluster, std::uint32_t parentId, int depth,
                      bool insideDeleted) {
  if (FatStopRequested(walk.stop) || depth > kMaxDirectoryDepth) return;
  std::vector<std::uint8_t> buffer;
  std::vector<UnreadDirectorySector> unread;
  std::uint64_t bytes =
      ReadFatDirectory(walk.partition, walk.stop, walk.handle, firstCluster, buffer, walk.visited, &unread);
  if (bytes == 0) return;
  FoundFileTable& table = walk.partition.table;
  std::uint32_t before = table.count;
  if (unread.empty()) {
    ParseFatDirectory(walk.partition, buffer.data(), bytes, &walk.progress, parentId);
  } else {
    const std::string folder = FolderPathOf(table, parentId, kMaxDirectoryDepth);
    std::vector<std::uint32_t> sectors;
    for (const UnreadDirectorySector& u : unread) {
      NoteUnreadMetadata(walk.partition, {UnreadMetadataKind::kFolderSectors, firstCluster, 1, u.lba, folder});
      sectors.push_back(u.index);
    }
    // Each readable run on its own: a zeroed sector must not read as the
    // directory's end.
    ForEachReadableRun(
        std::span<const std::uint8_t>(buffer.data(), bytes), sectors,
        [&](std::span<const std::uint8_t> run) {
          ParseFatDirectory(walk.partition, run.data(), run.size(), &walk.progress, parentId);
        },
        HoldsDirectoryEnd);
  }
  std::vector<std::uint8_t>().swap(buffer);
  std::uint32_t after = table.count;
  if (insideDeleted) MarkDeleted(table, before, after);
  if (walk.kinds)
    RecoverFat32HighWords(walk.stop, walk.partition, before, after, true, *walk.kinds);
  if (table.count <= 5) return;
  // Present folders first: a deleted folder whose cluster now belongs to a
  // live one must not claim it (each directory is read once).
  for (NodeKind kind : {kPresentFolder, kDeletedFolder}) {
    for (std::uint32_t id = before; id < after; ++id) {
      const FoundFileNode* node = NodeAt(table, id);
      if (!node || KindOf(*node) != kind) continue;
      // Cluster 0 or 1 would read the root again: not a subdirectory.
      if (node->firstCluster < 2) continue;
      WalkFatDirectory(walk, node->firstCluster, id, depth + 1, insideDeleted || IsDeletedFolder(*node));
      if (FatStopRequested(walk.stop)) return;
    }
  }
}

// The first clusters of folders the walk did not reach, found among the
// free clusters whose start it did not read; their entries go under the
// lost-files folder, as deleted entries (nothing reachable names them).
void WalkOrphanFolders(FatWalk& walk, const FatGeometry& g) {
  const FatEntries fat(walk.partition.fat, g);
  if (fat.EntryCount() < 3) return;
  const std::uint64_t highest = std::min<std::uint64_t>(g.clusterCount + 1, fat.EntryCount() - 1);
  OrphanClusterArea area{g.dataStart, g.spc, highest};
  auto candidate = [&](std::uint64_t c) { return fat.Next(c) == 0 && !walk.visited.count(g.ClusterLba(c)); };
  auto recognise = [&](std::span<const std::uint8_t> sector, std::uint64_t c, std::vector<std::uint64_t>& children) {
    if (!IsFatFolderStart(sector, c, highest, g.fat32)) return false;
    for (const FatDirEntry& e : DecodeFatDirectory(sector, g.fat32))
      if (e.directory && e.firstCluster >= 2) children.push_back(e.firstCluster);
    return true;
  };
  const std::vector<OrphanFolder> found = FindOrphanFolders(walk.handle, area, candidate, recognise, walk.stop);
  for (std::uint64_t c : OrphanWalkOrder(found)) {
    if (FatStopRequested(walk.stop)) return;
    WalkFatDirectory(walk, static_cast<std::uint32_t>(c), kLostFolderId, 1, true);
  }
}

}  // namespace

bool LoadFat(PartitionInfo& partition, DiskHandle& handle, const StopWord* stopWord) {
  partition.fat.clear();
  partition.fatSecond.clear();
  partition.fatCopies = {};
  auto g = FatGeometryOf(partition);
  if (!g) return false;
  std::uint64_t fs = LoadableFatSectors(*g, partition);
  if (fs == 0) return false;
  partition.fat.assign(fs * kSectorSize, 0);
  std::uint8_t* out = partition.fat.data();
  if (ReadRange(handle, g->fatStart, fs, out)) {
    // The copies should be identical; where they are not, the listing
    // settles each chain on the copy that fits it.
    if (g->fatCount >= 2) CompareFatCopies(partition, handle, *g, g->fatStart + g->fatSectors, fs, stopWord);
    return true;
  }
  if (FatStopRequested(stopWord)) return false;
  if (g->fatCount < 2) {
    std::vector<std::uint32_t> bad;
    ReadSectorsSalvaging(handle, g->fatStart, static_cast<std::uint32_t>(fs), out, &bad);
    for (std::uint32_t s : bad)
      NoteUnreadMetadata(partition, {UnreadMetadataKind::kFatSectors, s, 1, g->fatStart + s, {}});
    return false;
  }
  // The second copy lies one recorded FAT size further on.
  std::uint64_t second = g->fatStart + g->fatSectors;
  if (ReadRange(handle, second, fs, out)) return true;
  LogLine(LogCode::kNotice, "FAT copies unreadable, reading sector by sector");
  for (std::uint64_t s = 0; s < fs; ++s) {
    if (FatStopRequested(stopWord)) return false;
    if (!ReadSectors(handle, second + s, 1, out + s * kSectorSize) &&
        !ReadSectors(handle, g->fatStart + s, 1, out + s * kSectorSize))
      NoteUnreadMetadata(partition, {UnreadMetadataKind::kFatSectors, s, 1, g->fatStart + s, {}});
  }
  return false;
}

bool LoadFatCopy(const PartitionInfo& partition, std::vector<std::uint8_t>& out) {
  out.clear();
  auto g = FatGeometryOf(partition);
  if (!g) return false;
  std::uint64_t fs = LoadableFatSectors(*g, partition);
  if (fs == 0) return false;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return false;
  std::vector<std::uint8_t> map(fs * kSectorSize + 4, 0);
  bool ok = ReadRange(handle, g->fatStart, fs, map.data());
  handle.Close();
  if (!ok) return false;
  map.resize(fs * kSectorSize);
  out = std::move(map);
  return true;
}

std::uint64_t ReadFatDirectory(PartitionInfo& partition, const StopWord* stopWord, DiskHandle& handle,
                               std::uint32_t firstCluster, std::vector<std::uint8_t>& buffer,
                               std::unordered_set<std::uint64_t>& visited, std::vector<UnreadDirectorySector>* unread) {
  buffer.clear();
  if (unread) unread->clear();
  auto g = FatGeometryOf(partition);
  if (!g) return 0;
  std::vector<std::uint32_t> bad;
  // Reads `sectors` at `lba` into the buffer from sector `index` on; true
  // when its first sector could be read.
  auto salvage = [&](std::uint64_t lba, std::uint64_t sectors, std::uint64_t index) {
    bad.clear();
    ReadSectorsSalvaging(handle, lba, static_cast<std::uint32_t>(sectors), buffer.data() + index * kSectorSize, &bad);
    if (unread)
      for (std::uint32_t b : bad) unread->push_back({static_cast<std::uint32_t>(index + b), lba + b});
    return bad.empty() || bad.front() != 0;
  };
  const std::uint64_t clusterBytes = std::uint64_t(g->spc) * kSectorSize;
  if (firstCluster == 0 && !g->fat32) {
    // The fixed FAT16 root, at most as large as the directory buffer.
    std::uint64_t sectors = std::uint64_t(g->rootEntries) * 32 / kSectorSize;
    sectors = std::min<std::uint64_t>(sectors, std::uint64_t(kMaxDirectoryClusters) * g->spc);
    if (sectors == 0 || !visited.insert(g->rootStart).second) return 0;
    buffer.assign(sectors * kSectorSize, 0);
    salvage(g->rootStart, sectors, 0);
    return FatStopRequested(stopWord) ? 0 : buffer.size();
  }
  const bool isRoot = firstCluster == 0;
  std::uint64_t cluster = isRoot ? g->rootCluster : firstCluster;
  if (cluster < 2 || !visited.insert(g->ClusterLba(cluster)).second) return 0;
  std::uint32_t read = 0;
  std::unordered_set<std::uint64_t> chain;  // a chain that loops back ends there
  // A folder whose chain was freed (deleted, or lost): its clusters are
  // taken as following each other while they keep reading as entries.
  const bool freed = !isRoot && DirectoryNextCluster(partition, *g, cluster) == 0;
  while (cluster > 1 && cluster <= g->clusterCount + 2 && !IsFatEndOfChain(static_cast<std::uint32_t>(cluster), g->fat32) &&
         read < kMaxDirectoryClusters && chain.insert(cluster).second) {
    buffer.resize((read + 1) * clusterBytes);
    const bool firstSectorRead = salvage(g->ClusterLba(cluster), g->spc, std::uint64_t{read} * g->spc);
    ++read;
    if (FatStopRequested(stopWord)) return 0;
    if (read == 1 && !isRoot && firstSectorRead && !StartsWithDotEntries(buffer)) {
      if (unread) unread->clear();
      return 0;
    }
    const std::uint64_t next = DirectoryNextCluster(partition, *g, cluster);
    if (!freed || next != 0) {
      cluster = next;
      continue;
    }
    // The freed folder ends at its end mark, at a cluster in use or read as
    // a folder's start, and at the first cluster that is not entries.
    const std::uint64_t following = cluster + 1;
    const std::span<const std::uint8_t> last(buffer.data() + (read - 1) * clusterBytes, clusterBytes);
    if (HoldsDirectoryEnd(last) || following > g->clusterCount + 1 || read >= kMaxDirectoryClusters ||
        DirectoryNextCluster(partition, *g, following) != 0 || visited.count(g->ClusterLba(following)))
      break;
    std::vector<std::uint8_t> piece(clusterBytes);
    if (!ReadSectors(handle, g->ClusterLba(following), g->spc, piece.data()) || !ContinuesFatFolder(piece)) break;
    cluster = following;
  }
  return buffer.size();
}

bool ReadFatVolume(const StopWord* stopWord, PartitionInfo& partition, DiskHandle& handle, ParseContext* context) {
  // Fields a checker rejects are noted; a root entry count that the root's
  // folders contradict is read as they show it.
  SettleFatBootFields(partition, [&handle](std::uint64_t lba, std::uint32_t count, std::uint8_t* out) {
    return ReadSectors(handle, lba, count, out);
  });
  auto g = FatGeometryOf(partition);
  if (!g) return false;
  LoadFat(partition, handle, stopWord);
  if (FatStopRequested(stopWord)) return false;
  InitTable(partition.table);
  ParseContext own;
  ParseContext& shared = context ? *context : own;  // a parse of its own
  shared.visitedDirectories.clear();
  FatWalk walk{partition, handle, stopWord, {}, nullptr, shared.visitedDirectories};
  walk.progress.stage = kStageParse;
  ClusterKindTable kinds;
  if (g->fat32 && shared.scanCompleted) {
    kinds = ClusterKindTable(*g, shared.scanHits);
    walk.kinds = &kinds;
  }
  WalkFatDirectory(walk, 0, kRootId, 0, false);
  if (OrphanSearchApplies(shared.orphanFolders, partition.sectorCount)) WalkOrphanFolders(walk, *g);
  if (walk.kinds)
    RecoverFat32HighWords(stopWord, partition, kRootId, partition.table.count, false, kinds);
  if (FatStopRequested(stopWord)) return false;
  ReconcileFatCopies(partition);
  LinkAll(partition.table);
  return true;
}

bool ReadFatPartition(const StopWord* stopWord, PartitionInfo& partition, ParseContext* context) {
  if (GetSetting("ParseFileSys") != "1") return false;
  DiskHandle handle;
  if (!OpenPartition(partition, handle)) return false;
  bool ok = ReadFatVolume(stopWord, partition, handle, context);
  handle.Close();
  return ok;
}

std::string FatVolumeLabel(const PartitionInfo& partition, DiskHandle& handle) {
  const ByteSpan boot(partition.bootSector.data(), partition.bootSector.size());
  auto g = FatGeometryOf(partition);
  if (!g) return {};
  // The label entry lies in the fixed root (FAT16) or the root's first
  // cluster (FAT32), where formatting tools put it.
  std::uint64_t lba = g->rootStart, sectors = std::uint64_t(g->rootEntries) * 32 / kSectorSize;
  if (g->fat32) {
    lba = g->InClusterRange(g->rootCluster) ? g->ClusterLba(g->rootCluster) : 0;
    sectors = lba ? g->spc : 0;
  }
  sectors = std::min<std::uint64_t>(sectors, 64);
  std::vector<std::uint8_t> root(sectors * kSectorSize);
  std::string label;
  if (sectors && ReadRange(handle, lba, sectors, root.data())) label = FatDirectoryLabel(root);
  return label.empty() ? FatBootSectorLabel(boot, g->fat32) : label;
}

}  // namespace ambrel
