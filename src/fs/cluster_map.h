// Which clusters of a volume are taken, and by whom: the file system's own
// allocation map (the FAT, the exFAT allocation bitmap, the NTFS $Bitmap),
// and the clusters each live file's chain holds. The copy-out and the
// listing ask it whether a deleted file's clusters were given to something
// else since (overwritten), and whether a live chain runs into clusters
// another live file holds (cross-linked). Pure over the partition record.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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
  enum class Map : std::uint8_t { kFat, kBitmapFrom2, kBitmapFrom0 };
  ClusterGrid grid_;
  Map map_ = Map::kFat;
  unsigned entryBits_ = 0;
  std::span<const std::uint8_t> bytes_;
};

// The clusters each live file and folder of a FAT or exFAT volume holds,
// taken from the chains that are consistent with their entries (a file's
// chain covers its size and ends there; a folder's chain reaches its end
// mark): those are trusted to own their clusters when another chain runs
// into them.
class ClusterOwners {
 public:
  // A chain's owner by its first cluster and a hash of its name (two
  // entries starting at one cluster are told apart); its path is looked up
  // in the table only when a cross-link names it, so the map stays small.
  struct Owner {
    std::uint64_t firstCluster = 0;
    std::uint32_t nameHash = 0;
  };
  static std::uint32_t NameHash(const char* name);
  struct Run {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    std::uint32_t owner = 0;
  };
  // The first cluster of first .. first + count - 1 that an owner other
  // than the file (`selfFirst`, `selfName`) holds, with that owner.
  bool FirstForeign(std::uint64_t first, std::uint64_t count, std::uint64_t selfFirst, const char* selfName,
                    std::uint64_t& at, const Owner*& owner) const;
  void Add(std::uint64_t first, std::uint64_t count, std::uint32_t owner);
  std::uint32_t AddOwner(Owner owner);
  void Finish();  // sorts the runs and the starts
  std::size_t RunCount() const { return runs_.size(); }
  // The first clusters of every entry of the volume, live and deleted.
  void AddStart(std::uint64_t cluster) { starts_.push_back(cluster); }
  // The lowest first cluster of an entry in after + 1 .. before - 1; 0
  // when none.
  std::uint64_t StartBetween(std::uint64_t after, std::uint64_t before) const;

 private:
  std::vector<std::uint64_t> starts_;
  std::vector<Run> runs_;  // by first cluster
  std::vector<Owner> owners_;
  std::uint64_t longest_ = 0;
};

// Whether the node's extents follow a FAT chain (a live FAT or exFAT file
// with a chain in a loaded FAT), not clusters taken as contiguous.
bool WalksFatChain(const FoundFileNode& node, const PartitionInfo& partition);

// The path below the root of the live entry an owner stands for ("" when
// none is found).
std::string OwnerPath(const PartitionInfo& partition, const ClusterOwners::Owner& owner);

// Walks every live chain of a parsed FAT or exFAT volume into an owner map
// (kept in partition.clusterOwners); other kinds get none.
void BuildClusterOwners(PartitionInfo& partition);

// Loads the NTFS $Bitmap into partition.allocationBitmap (bit c: cluster c
// in use); left empty when it cannot be read.
void LoadNtfsAllocation(PartitionInfo& partition, const std::atomic<std::uint32_t>* stopWord);

}  // namespace ambrel
