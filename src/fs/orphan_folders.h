// Folders no folder reaches any more: a folder whose own entry was
// overwritten, or whose parent went with its chain, still has its first
// cluster, and its entries, in the volume's free space. The FAT and exFAT
// readers look at the first sector of each free cluster their walk did not
// read, take those that begin the way a folder of their file system begins,
// and list their entries under the lost-files folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "device/disk_handle.h"

namespace ambrel {

// Whether a listing looks for such folders: never (the deep scan finds
// them by its own means), on volumes up to kOrphanSearchDefaultBytes, or
// on every volume.
enum class OrphanFolderSearch : std::uint8_t { kOff, kSmallVolumes, kAlways };
inline constexpr std::uint64_t kOrphanSearchDefaultBytes = 32ull << 30;  // 32 GiB

bool OrphanSearchApplies(OrphanFolderSearch search, std::uint64_t volumeSectors);

// The clusters of a volume for the search: cluster c begins at
// firstLba + (c - 2) x spc, for c in 2 .. highest.
struct OrphanClusterArea {
  std::uint64_t firstLba = 0;
  std::uint32_t spc = 0;
  std::uint64_t highest = 0;
  std::uint64_t LbaOf(std::uint64_t cluster) const { return firstLba + (cluster - 2) * spc; }
};

// At most this many folder clusters are taken from one volume.
inline constexpr std::size_t kMaxOrphanFolders = 1u << 16;

// A cluster taken, with the clusters its first sector names as subfolders
// (it is entered before them, so that they are listed inside it).
struct OrphanFolder {
  std::uint64_t cluster = 0;
  std::vector<std::uint64_t> children;
};

// Reads the first sector of every cluster for which `candidate` holds (free
// and not read by the walk), in runs of such clusters: clusters up to 4 KiB in
// spans of up to 1 MiB, larger ones a sector each. `recognise` decides on
// the sector and names the subfolder clusters it lists. Unreadable sectors
// are passed over. The result is in cluster order.
using OrphanCandidate = std::function<bool(std::uint64_t cluster)>;
using OrphanRecogniser =
    std::function<bool(std::span<const std::uint8_t> sector, std::uint64_t cluster, std::vector<std::uint64_t>& children)>;
std::vector<OrphanFolder> FindOrphanFolders(DiskHandle& handle, const OrphanClusterArea& area,
                                            const OrphanCandidate& candidate, const OrphanRecogniser& recognise,
                                            const std::atomic<std::uint32_t>* stopWord);

// The order to enter them in: the folders no other found folder names
// first, then the rest (a subfolder whose parent lost its entry for it).
std::vector<std::uint64_t> OrphanWalkOrder(const std::vector<OrphanFolder>& folders);

}  // namespace ambrel
