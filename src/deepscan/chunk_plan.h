// Which chunks a scan reads and in what order: the scanned range, the
// priority range, the one-chunk-per-GiB probes of large whole disks and the
// hints that structures found on the way give. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "deepscan/scan_hit.h"

namespace ambrel {

inline std::uint64_t ChunkFloor(std::uint64_t lba) { return lba & ~std::uint64_t{kChunkSectors - 1}; }

// rangeFirst = start rounded down to a chunk, rangeLast = the chunk that
// holds the area's last sector (not the chunk after an area that ends on a
// chunk boundary, which lies wholly outside it); a chunk LBA is inside when
// first <= LBA <= last.
struct ScanRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  bool Contains(std::uint64_t lba) const { return lba >= first && lba <= last; }
};
ScanRange RangeOf(std::uint64_t start, std::uint64_t sectors);

// Number of chunks of a disk: ceil(sectors / 16384).
std::uint64_t ChunkCountOf(std::uint64_t diskSectors);

// Every chunk from the one holding `start` up to and including the one
// holding start + length; nothing for a length of 0.
std::vector<std::uint64_t> PriorityRangeChunks(std::uint64_t start, std::uint64_t length);
// Every multiple of 1 GiB (0x200000 sectors) from the partition start up to
// its end, for partitions above 4 GiB.
std::vector<std::uint64_t> GibProbeChunks(std::uint64_t start, std::uint64_t sectors);

// The LBAs a hit suggests reading next (boot-sector neighbours, the backup
// and primary boot sectors, the partition end), in push order.
std::vector<std::uint64_t> BootSectorHints(const ScanHit& hit);
// For runs of more than three consecutive FILE records (2 sectors apart,
// record numbers rising by one): the partition start when the run begins
// with $MFT and its $MFTMirr record places it, else record 0's LBA.
std::vector<std::uint64_t> MftRunHints(const HitList& hits);

}  // namespace ambrel
