#include "deepscan/organise/fat_directory_trees.h"

#include <algorithm>
#include <map>
#include <set>

#include "catalog/node_table.h"
#include "common/text.h"
#include "device/device_enum.h"
#include "fs/fat/fat_directory.h"

namespace ambrel {
namespace {

constexpr std::uint32_t kMaxDirectoryClusters = 1024;
constexpr std::uint64_t kMaxFixedRootSectors = 64;  // 1024 entries
constexpr std::uint32_t kPreferredSpc = 8;

std::uint32_t DotCluster(const ScanHit& h) { return h.aux1 & 0x0FFFFFFF; }

bool Fits(const FatClusterLayout& l, const ScanHit& h) {
  const std::uint32_t c = DotCluster(h);
  return c >= 2 && l.clusterTwoLba <= h.lba && h.lba - l.clusterTwoLba == std::uint64_t(l.spc) * (c - 2);
}

std::map<FatClusterLayout, std::size_t> CountVotes(const std::vector<const ScanHit*>& hits,
                                                   const std::vector<bool>& taken) {
  std::map<FatClusterLayout, std::size_t> votes;
  for (std::size_t i = 0; i < hits.size(); ++i) {
    if (taken[i]) continue;
    const std::uint32_t c = DotCluster(*hits[i]);
    if (c < 2) continue;
    for (std::uint32_t spc = 1; spc <= 128; spc <<= 1) {
      const std::uint64_t back = std::uint64_t(spc) * (c - 2);
      if (back <= hits[i]->lba) ++votes[{spc, hits[i]->lba - back}];
    }
  }
  return votes;
}

// A cluster that continues a directory: whole entries with sane attribute
// bytes and names, up to an end mark.
bool LooksLikeDirectoryEntries(ByteSpan bytes) {
  for (std::size_t off = 0; off + 32 <= bytes.size(); off += 32) {
    const std::uint8_t first = bytes[off];
    const std::uint8_t attr = bytes[off + 11];
    if (first == 0) return off > 0;
    if (attr == kFatAttrLongName) continue;
    if (attr & 0xC0) return false;
    for (std::size_t k = first == kFatDeletedMark ? 1 : 0; k < 11; ++k) {
      const std::uint8_t b = bytes[off + k];
      if (b < 0x20 || b == '"' || b == '*' || b == '/' || b == ':' || b == '<' || b == '>' ||
          b == '?' || b == '\\' || b == '|')
        return false;
    }
  }
  return true;
}

bool HasEndMark(ByteSpan bytes) {
  for (std::size_t off = 0; off + 32 <= bytes.size(); off += 32)
    if (bytes[off] == 0) return true;
  return false;
}

// The directory's clusters: the first, then following clusters while they
// look like more entries of it and no other directory starts there.
std::vector<std::uint8_t> ReadDirectoryClusters(DiskHandle& disk, std::uint64_t lba, std::uint32_t spc,
                                                const std::set<std::uint64_t>& directoryStarts) {
  const std::size_t clusterBytes = std::size_t{spc} * 512;
  std::vector<std::uint8_t> out(clusterBytes);
  if (!ReadSectors(disk, lba, spc, out.data())) return {};
  std::vector<std::uint8_t> next(clusterBytes);
  for (std::uint32_t n = 1; n < kMaxDirectoryClusters && !HasEndMark(out); ++n) {
    const std::uint64_t at = lba + std::uint64_t(n) * spc;
    if (directoryStarts.count(at)) break;
    if (!ReadSectors(disk, at, spc, next.data()) || !LooksLikeDirectoryEntries(next)) break;
    out.insert(out.end(), next.begin(), next.end());
  }
  return out;
}

FoundFileNode FolderNode(std::uint32_t parent) {
  FoundFileNode n{};
  n.parentId = parent;
  n.typeCode = kTypeFatDirectory;
  SetKind(n, kPresentFolder);
  return n;
}

struct TreeBuilder {
  PartitionInfo& part;
  DiskHandle& disk;
  FatClusterLayout layout;
  // Directory nodes by the cluster their entry names (present ones first).
  std::multimap<std::uint32_t, std::uint32_t> entryDirs;

  void AddEntries(ByteSpan bytes, std::uint32_t parent) {
    for (FatDirEntry& e : DecodeFatDirectory(bytes, true)) {
      FoundFileNode node{};
      node.parentId = parent;
      node.size = e.size;
      node.created = e.created;
      node.modified = e.modified;
      node.firstCluster = e.firstCluster;
      if (e.firstCluster >= 2) node.dataSector = layout.ClusterLba(e.firstCluster);
      SetKind(node, static_cast<NodeKind>((e.deleted ? 0 : 1) | (e.directory ? 2 : 0)));
      if (e.directory) node.typeCode = kTypeFatDirectory;
      const std::uint32_t id = AddNodeNamed(part.table, node, e.name, false);
      if (id != 0 && e.directory && e.firstCluster >= 2) entryDirs.emplace(e.firstCluster, id);
    }
  }

  // The entry that names the directory of `cluster`, outside that directory.
  std::uint32_t NamingEntry(std::uint32_t cluster, std::uint32_t holder) const {
    std::uint32_t best = 0;
    auto [lo, hi] = entryDirs.equal_range(cluster);
    for (auto it = lo; it != hi; ++it) {
      const FoundFileNode* n = NodeAt(part.table, it->second);
      if (!n || n->parentId == holder) continue;
      if (best == 0 || KindOf(*n) == kPresentFolder) best = it->second;
    }
    return best;
  }
};

void MoveChildren(FoundFileTable& table, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t id = kRootId + 1; id < table.count; ++id) {
    FoundFileNode* n = NodeAt(table, id);
    if (n && n->parentId == from) n->parentId = to;
  }
}

void BuildGroup(TreeBuilder& b, std::uint32_t groupFolder, const std::vector<const ScanHit*>& dirs,
                const std::vector<const ScanHit*>& roots) {
  std::set<std::uint64_t> starts;
  for (const ScanHit* h : dirs) starts.insert(h->lba);
  for (const ScanHit* h : roots) starts.insert(h->lba);
  for (const ScanHit* h : roots) {
    std::vector<std::uint8_t> bytes;
    if (h->lba >= b.layout.clusterTwoLba) {
      bytes = ReadDirectoryClusters(b.disk, h->lba, b.layout.spc, starts);
    } else {
      bytes.assign((b.layout.clusterTwoLba - h->lba) * 512, 0);
      ReadSectors(b.disk, h->lba, static_cast<std::uint32_t>(bytes.size() / 512), bytes.data());
    }
    b.AddEntries(bytes, groupFolder);
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> holders;  // cluster, holder folder
  std::set<std::uint32_t> seen;
  for (const ScanHit* h : dirs) {
    const std::uint32_t cluster = DotCluster(*h);
    if (!seen.insert(cluster).second) continue;
    const std::uint32_t holder = AddNodeNamed(b.part.table, FolderNode(groupFolder),
                                              Format("cluster_%u", cluster), false);
    if (holder == 0) continue;
    b.AddEntries(ReadDirectoryClusters(b.disk, h->lba, b.layout.spc, starts), holder);
    holders.emplace_back(cluster, holder);
  }
  // A directory whose entry was found hangs its contents under that entry.
  for (const auto& [cluster, holder] : holders) {
    const std::uint32_t entry = b.NamingEntry(cluster, holder);
    if (entry == 0) continue;
    MoveChildren(b.part.table, holder, entry);
    RemoveNode(b.part.table, holder);
  }
}

}  // namespace

std::vector<FatClusterLayout> VoteFatLayouts(const std::vector<const ScanHit*>& hits) {
  std::vector<FatClusterLayout> layouts;
  std::vector<bool> taken(hits.size(), false);
  while (true) {
    auto votes = CountVotes(hits, taken);
    if (votes.empty()) break;
    auto best = std::max_element(votes.begin(), votes.end(), [](const auto& a, const auto& b) {
      if (a.second != b.second) return a.second < b.second;
      if ((a.first.spc == kPreferredSpc) != (b.first.spc == kPreferredSpc))
        return b.first.spc == kPreferredSpc;
      return a.first.spc > b.first.spc;
    });
    layouts.push_back(best->first);
    for (std::size_t i = 0; i < hits.size(); ++i)
      if (!taken[i] && Fits(best->first, *hits[i])) taken[i] = true;
  }
  return layouts;
}

std::unique_ptr<PartitionInfo> BuildFatDirectoryTrees(DiskHandle& disk,
                                                      const std::vector<const ScanHit*>& directoryHits,
                                                      const std::vector<const ScanHit*>& rootHits,
                                                      const std::string& displayName) {
  const std::vector<FatClusterLayout> layouts = VoteFatLayouts(directoryHits);
  if (layouts.empty()) return nullptr;
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsFatDirScan;
  part->fsName = "FatDir";
  part->origin = kOriginDirectoryEntries;
  part->sectorCount = kUnknownPartitionSize;
  part->displayName = displayName;
  part->volumeLabel = kDefaultVolumeLabel;
  InitTable(part->table);
  std::vector<bool> taken(directoryHits.size(), false);
  unsigned number = 0;
  for (const FatClusterLayout& layout : layouts) {
    std::vector<const ScanHit*> dirs, roots;
    for (std::size_t i = 0; i < directoryHits.size(); ++i)
      if (!taken[i] && Fits(layout, *directoryHits[i])) {
        taken[i] = true;
        dirs.push_back(directoryHits[i]);
      }
    for (const ScanHit* r : rootHits) {
      const bool inHeap = r->lba >= layout.clusterTwoLba && (r->lba - layout.clusterTwoLba) % layout.spc == 0;
      const bool fixedRoot = r->lba < layout.clusterTwoLba && layout.clusterTwoLba - r->lba <= kMaxFixedRootSectors;
      if (inHeap || fixedRoot) roots.push_back(r);
    }
    if (dirs.empty()) continue;
    const std::uint32_t folder = AddNodeNamed(part->table, FolderNode(kRootId), Format("Dir%02u", ++number), false);
    if (folder == 0) break;
    TreeBuilder builder{*part, disk, layout, {}};
    BuildGroup(builder, folder, dirs, roots);
  }
  LinkAll(part->table);
  return part;
}

}  // namespace ambrel
