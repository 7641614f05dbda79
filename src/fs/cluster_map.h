// Which clusters of a volume are taken, and by whom: the file system's own
// allocation map (the FAT, the exFAT allocation bitmap, the NTFS $Bitmap),
// and the clusters each live file's chain holds. The copy-out and the
// listing ask it whether a deleted file's clusters were given to something
// else since (overwritten), and whether a live chain runs into clusters
// another live file holds (cross-linked). Pure over the partition record.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/large_vector.h"
#include "catalog/partition_info.h"
#include "fs/data_extent.h"

namespace ambrel {

// Cluster `base` begins at sector `firstLba`; clusters are `spc` sectors.
struct ClusterGrid {
  std::uint64_t firstLba = 0;
  std::uint32_t spc = 0;
  std::uint64_t base = 0;
  std::uint64_t count = 0;  // clusters base .. base + count - 1
  bool Holds(std::uint64_t lba) const {
    return spc != 0 && lba >= firstLba && (lba - firstLba) / spc < count;
  }
  std::uint64_t ClusterOf(std::uint64_t lba) const { return (lba - firstLba) / spc + base; }
  std::uint64_t LbaOf(std::uint64_t cluster) const { return firstLba + (cluster - base) * spc; }
};

// The grid of a FAT, exFAT or NTFS volume; none for other kinds or a boot
// sector without a usable geometry.
std::optional<ClusterGrid> ClusterGridOf(const PartitionInfo& partition);

// The clusters of the first `size` bytes of a file's extents that a
// predicate calls taken: how many there are, how many are taken, and the
// byte of the file where the first taken one begins.
struct ClusterTally {
  std::uint64_t clusters = 0;
  std::uint64_t taken = 0;
  std::uint64_t firstTakenByte = UINT64_MAX;
};

class ClusterUse {
 public:
  // The volume's allocation map as loaded with its listing; none when the
  // reader kept no map (a FAT that could not be read, an NTFS $Bitmap that
  // could not be read).
  static std::optional<ClusterUse> Of(const PartitionInfo& partition);
  // Clusters outside the map read as free: nothing is called overwritten
  // on a guess.
  bool InUse(std::uint64_t cluster) const;
  ClusterTally Count(const ExtentList& extents, std::uint64_t size) const;
  const ClusterGrid& Grid() const { return grid_; }

 private:
  friend class LaterVolume;
  enum class Map : std::uint8_t { kFat, kBitmapFrom2, kBitmapFrom0 };
  ClusterGrid grid_;
  Map map_ = Map::kFat;
  unsigned entryBits_ = 0;
  std::span<const std::uint8_t> bytes_;
};

// A volume formatted over an older one whose tree the deep scan rebuilt
// (from loose FILE records, FAT or exFAT directory clusters): the old
// files' sectors that the new volume gave to its files or holds as its own
// metadata (boot region, FATs, a FAT16 root folder; NTFS marks its
// metadata in the $Bitmap) no longer hold the old bytes. Keeps its own
// copy of the new volume's allocation map.
class LaterVolume {
 public:
  // None when the volume kept no allocation map.
  static std::shared_ptr<const LaterVolume> Of(const PartitionInfo& volume);
  // The old file's extents against the new volume, in the new volume's
  // clusters (its metadata region in cluster-sized units, all taken).
  ClusterTally Count(const ExtentList& extents, std::uint64_t size) const;
  std::uint64_t StartLba() const { return startLba_; }
  std::uint64_t EndLba() const { return endLba_; }

 private:
  std::uint64_t startLba_ = 0;
  std::uint64_t endLba_ = 0;
  std::vector<std::uint8_t> map_;
  ClusterUse use_;
  // Where each live file of the new volume begins: a rebuilt file that
  // begins there is that file, listed again, not one written over.
  std::vector<std::uint64_t> liveStarts_;
};

// The clusters each live file and folder holds: on FAT and exFAT from the
// chains that are consistent with their entries (a file's chain covers its
// size and ends there; a folder's chain reaches its end mark), on NTFS from
// every non-resident attribute of every live file and folder (in its base
// and extension records: all $DATA pieces, named streams, index blocks)
// and the metadata files' ($MFT, $LogFile, $Bitmap, ...). Those are trusted to own their clusters when a deleted
// file's clusters or another chain run into them. Held as a sorted vector
// of disjoint cluster ranges, each with up to two owners (two when live
// files overlap), built once per volume and searched by binary search.
class ClusterOwners {
 public:
  // A chain's owner by its first cluster (NTFS: the first cluster of its
  // first run) and a hash of its name (two entries starting at one cluster
  // are told apart): both survive the views' renumbering of the nodes.
  // `nodeId` is the node in the table the map was built from.
  struct Owner {
    std::uint64_t firstCluster = 0;
    std::uint32_t nameHash = 0;
    std::uint32_t nodeId = 0;
  };
  static std::uint32_t NameHash(const char* name);
  static constexpr std::uint32_t kNoOwner = UINT32_MAX;
  // The first cluster of first .. first + count - 1 that an owner other
  // than the file (`selfFirst`, `selfName`) holds, with that owner.
  bool FirstForeign(std::uint64_t first, std::uint64_t count, std::uint64_t selfFirst, const char* selfName,
                    std::uint64_t& at, const Owner*& owner) const;
  // The first cluster of the range that any owner holds.
  bool FirstOwned(std::uint64_t first, std::uint64_t count, std::uint64_t& at, const Owner*& owner) const;
  // How many clusters of the range an owner holds or `inUse` calls taken
  // (the allocation map), and the first of them.
  template <typename InUse>
  std::uint64_t CountTaken(std::uint64_t first, std::uint64_t count, InUse inUse, std::uint64_t& firstTaken) const;
  void Add(std::uint64_t first, std::uint64_t count, std::uint32_t owner);
  std::uint32_t AddOwner(Owner owner);
  // Room for about this many owners and runs, made before they are added.
  void Reserve(std::size_t owners, std::size_t runs);
  void Finish();  // sorts the runs into disjoint ranges and the starts
  std::size_t RunCount() const { return ranges_.size(); }
  // The first clusters of every entry of the volume, live and deleted.
  void AddStart(std::uint64_t cluster) { starts_.push_back(cluster); }
  // The lowest first cluster of an entry in after + 1 .. before - 1; 0
  // when none.
  std::uint64_t StartBetween(std::uint64_t after, std::uint64_t before) const;
  // The owner's path below the root, noted while the full table was at
  // hand (the views leave owners out); null when not noted.
  const std::string* NotedPath(const Owner& owner) const;
  void NotePath(const Owner& owner, std::string path);

 private:
  struct Run {
    std::uint64_t first = 0;
    std::uint32_t count = 0;
    std::uint32_t owner = 0;
  };
  // A range of clusters and who holds it: `other` is a second owner when
  // two files claim it (kNoOwner otherwise).
  struct Range {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    std::uint32_t owner = 0;
    std::uint32_t other = kNoOwner;
  };
  LargeVector<Range>::const_iterator RangeFrom(std::uint64_t cluster) const;
  void IndexRanges();
  LargeVector<std::uint64_t> starts_;
  LargeVector<Run> runs_;      // while adding
  LargeVector<Range> ranges_;  // by first cluster, disjoint
  LargeVector<Owner> owners_;
  std::unordered_map<std::uint32_t, std::string> paths_;  // by owner index
  // Where the search for a cluster starts: bucket b = cluster >> shift_
  // holds the index of the first range that ends after b << shift_. About
  // one bucket per range, so a search reads a few ranges instead of
  // halving the whole vector (a cache miss per step on a large volume).
  LargeVector<std::uint32_t> buckets_;
  unsigned shift_ = 0;
};

template <typename InUse>
std::uint64_t ClusterOwners::CountTaken(std::uint64_t first, std::uint64_t count, InUse inUse,
                                        std::uint64_t& firstTaken) const {
  std::uint64_t taken = 0;
  firstTaken = UINT64_MAX;
  auto it = RangeFrom(first);
  for (std::uint64_t c = first; c < first + count; ++c) {
    while (it != ranges_.end() && it->end <= c) ++it;
    const bool owned = it != ranges_.end() && it->first <= c;
    if (!owned && !inUse(c)) continue;
    ++taken;
    if (firstTaken == UINT64_MAX) firstTaken = c;
  }
  return taken;
}

// Whether the node's extents follow a FAT chain (a live FAT or exFAT file
// with a chain in a loaded FAT), not clusters taken as contiguous.
bool WalksFatChain(const FoundFileNode& node, const PartitionInfo& partition);

// The path below the root of the live entry an owner stands for ("" when
// none is found).
std::string OwnerPath(const PartitionInfo& partition, const ClusterOwners::Owner& owner);

// The extents the owner map reads a node by: a FAT or exFAT chain (a
// deleted file's clusters taken as contiguous), an NTFS run list. Empty for
// resident data and rebuilt videos.
void OwnerExtents(const FoundFileNode& node, const PartitionInfo& partition, ExtentList& extents);
// The first cluster an owner map knows a node by (NTFS: its first run's).
std::uint64_t OwnerFirstCluster(const FoundFileNode& node, const PartitionInfo& partition,
                                const ExtentList& extents);

// The first cluster of the first `size` bytes of the extents that an owner
// (other than the file itself when `self` is given) holds: the byte of the
// file it begins at and the owner. False when none.
bool FirstOwnedByte(const ClusterOwners& owners, const ClusterGrid& grid, const ExtentList& extents,
                    std::uint64_t size, const FoundFileNode* self, std::uint64_t selfFirst, std::uint64_t& byte,
                    const ClusterOwners::Owner*& owner);

// The clusters of the first `size` bytes of the extents that an owner holds
// or the allocation map (when given) calls in use.
ClusterTally CountTaken(const ClusterGrid& grid, const ClusterUse* use, const ClusterOwners* owners,
                        const ExtentList& extents, std::uint64_t size);

// The system files of an NTFS volume (records 0 to 15) as (name, run list)
// pairs, read for the owner map.
struct NamedRunList {
  std::string name;
  std::vector<std::uint8_t> runList;
};

// The clusters of a live NTFS file or folder beyond its run list: a
// folder's index blocks, named streams, a non-resident attribute list, in
// its base or an extension record. The node is known by its stored name,
// which moves with it when the table closes its gaps.
struct NtfsAttributeRun {
  std::uint64_t firstCluster = 0;
  std::uint32_t clusterCount = 0;
  const char* nodeName = nullptr;
};

// Walks every live chain (FAT, exFAT) or run list (NTFS, with the system
// files' run lists in `system` and the other attributes' runs in
// `attributeRuns`) of a parsed volume into an owner map, kept in
// partition.clusterOwners; then notes the paths of the owners that a
// deleted file's clusters or another live file run into. Other kinds get
// none.
void BuildClusterOwners(PartitionInfo& partition, const std::vector<NamedRunList>& system = {},
                        const std::vector<NtfsAttributeRun>& attributeRuns = {});

// Loads the NTFS $Bitmap into partition.allocationBitmap (bit c: cluster c
// in use); left empty when it cannot be read.
void LoadNtfsAllocation(PartitionInfo& partition, const std::atomic<std::uint32_t>* stopWord);
// Reads the run lists of an NTFS volume's system files (records 0 to 15 in
// use: $MFT, $MFTMirr, $LogFile, $Bitmap, $Boot, $UpCase, ...); empty when
// the records cannot be read.
std::vector<NamedRunList> ReadNtfsSystemRunLists(const PartitionInfo& partition);

}  // namespace ambrel
