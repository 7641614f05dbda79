// Parses the MFT of an NTFS volume image into a node table and compares the
// time with The Sleuth Kit's `fls -r -p` on the same image, in one run.
//
//   bench_ntfs_walk IMAGE [ROUNDS]
//
// Make a large image with `fixtures/make-ntfs.sh --big /tmp/ntfs-big.img`
// (more than 100,000 MFT records). Both sides read a warm page cache: the
// image is read once before the first round. Reports the best of ROUNDS
// (default 3) for each side, records per second, the ratio and peak memory.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "device/disk_handle.h"
#include "catalog/partition_info.h"
#include "fs/ntfs/ntfs_geometry.h"
#include "fs/ntfs/ntfs_partition.h"
#include "fs/ntfs/ntfs_volume.h"

using namespace ambrel;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

bool PreparePartition(const std::string& image, PartitionInfo& p, std::uint64_t& records) {
  DiskHandle disk;
  if (!OpenByPath(image, disk)) return false;
  p.diskPath = image;
  p.displayName = image;
  p.fsKind = kFsNtfs;
  p.sectorCount = disk.sizeBytes / 512;
  if (!ReadSectors(disk, 0, 1, p.bootSector.data())) return false;
  ExtentList extents;
  if (!LoadMftExtents(disk, p, extents)) return false;
  records = 0;
  for (const DataExtent& e : extents) records += e.clusterCount * SectorsPerCluster(p) / 2;
  // Warm the page cache for both sides.
  std::vector<char> buffer(1 << 22);
  for (std::uint64_t lba = 0; lba < p.sectorCount; lba += 8192)
    ReadSectors(disk, lba,
                static_cast<std::uint32_t>(std::min<std::uint64_t>(8192, p.sectorCount - lba)),
                buffer.data());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s IMAGE [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string image = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");

  PartitionInfo probe;
  std::uint64_t records = 0;
  if (!PreparePartition(image, probe, records)) {
    std::fprintf(stderr, "%s: not a readable NTFS volume image\n", image.c_str());
    return 1;
  }

  double ours = 1e30;
  std::uint32_t nodes = 0;
  for (int r = 0; r < rounds; ++r) {
    PartitionInfo p;
    p.diskPath = probe.diskPath;
    p.fsKind = kFsNtfs;
    p.sectorCount = probe.sectorCount;
    p.bootSector = probe.bootSector;
    const auto start = Clock::now();
    if (!ReadNtfsPartition(nullptr, p)) {
      std::fprintf(stderr, "parse failed\n");
      return 1;
    }
    ours = std::min(ours, Seconds(start));
    nodes = CountLive(p.table);
  }
  const long oursPeak = PeakKiB();

  double fls = 1e30;
  const std::string command = "fls -r -p '" + image + "' > /dev/null 2>&1";
  for (int r = 0; r < rounds; ++r) {
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    if (status != 0) {
      std::fprintf(stderr, "fls failed (status %d); is sleuthkit installed?\n", status);
      return 1;
    }
    fls = std::min(fls, Seconds(start));
  }
  // A child's maximum RSS is inherited across fork and exec, so fls's own
  // peak is taken from /usr/bin/time when that is installed.
  long flsPeak = -1;
  const std::string timed = "/usr/bin/time -f 'peak %M' fls -r -p '" + image + "' 2>&1 >/dev/null";
  if (FILE* pipe = popen(timed.c_str(), "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) std::sscanf(line, "peak %ld", &flsPeak);
    pclose(pipe);
  }

  std::printf("image                 %s\n", image.c_str());
  std::printf("MFT records           %llu (%u listed nodes)\n",
              static_cast<unsigned long long>(records), nodes);
  std::printf("ambrel parse          %.3f s  %.0f records/s  peak RSS %ld KiB\n", ours,
              records / ours, oursPeak);
  std::printf("fls -r -p             %.3f s  %.0f records/s  peak RSS %ld KiB\n", fls,
              records / fls, flsPeak);
  std::printf("ratio (fls / ambrel)  %.2fx faster\n", fls / ours);
  return 0;
}
