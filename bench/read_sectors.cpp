// ReadSectors throughput against `cat` on the same file, in one run.
//
//   bench_read_sectors [IMAGE]
//
// Without IMAGE a 1 GiB image is made on demand under /tmp (not kept in the
// repository). The file is read once to bring it into the page cache; then
// `cat IMAGE > /dev/null` and a loop of ReadSectors in 8 MiB chunks (the
// deep scan's 0x4000 sectors) are timed alternately, five rounds each, and
// the best times give the ratio (ReadSectors MB/s over cat MB/s; >= 0.9 is
// the aim).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/disk_handle.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kImageBytes = 1ull << 30;
constexpr std::uint32_t kChunkSectors = 0x4000;

bool MakeImage(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == kImageBytes) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint64_t> block(1 << 17);  // 1 MiB of varied, non-zero data
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  for (std::uint64_t done = 0; done < kImageBytes && out; done += block.size() * 8) {
    for (auto& v : block) v = (x = x * 6364136223846793005ull + 1442695040888963407ull);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
  }
  return static_cast<bool>(out);
}

double TimeCat(const std::string& path) {
  std::string command = "cat '" + path + "' > /dev/null";
  auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double TimeReadSectors(const std::string& path, std::uint64_t& checksum) {
  auto start = Clock::now();
  ambrel::DiskHandle h;
  if (!ambrel::OpenByPath(path, h)) return -1;
  std::vector<std::uint8_t> chunk(std::size_t{kChunkSectors} * ambrel::kSectorSize);
  for (std::uint64_t lba = 0; lba <= h.lastLba; lba += kChunkSectors) {
    if (!ambrel::ReadSectors(h, lba, kChunkSectors, chunk.data())) return -1;
    checksum += chunk[(lba / kChunkSectors * 4099) % chunk.size()];  // keep the data observed
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = argc > 1 ? argv[1] : "/tmp/ambrel-bench-1gib.img";
  if (argc <= 1 && !MakeImage(path)) {
    std::fprintf(stderr, "cannot make %s\n", path.c_str());
    return 1;
  }
  std::uint64_t bytes = std::filesystem::file_size(path);
  std::uint64_t checksum = 0;
  TimeCat(path);  // warm the page cache
  double bestCat = 1e9, bestRead = 1e9;
  for (int round = 0; round < 5; ++round) {
    double c = TimeCat(path), r = TimeReadSectors(path, checksum);
    if (c < 0 || r < 0) {
      std::fprintf(stderr, "read failed\n");
      return 1;
    }
    bestCat = std::min(bestCat, c);
    bestRead = std::min(bestRead, r);
  }
  double mib = static_cast<double>(bytes) / (1 << 20);
  std::printf("image %s: %.0f MiB (checksum %llu)\n", path.c_str(), mib,
              static_cast<unsigned long long>(checksum));
  std::printf("cat:         %.3f s  %.0f MiB/s\n", bestCat, mib / bestCat);
  std::printf("ReadSectors: %.3f s  %.0f MiB/s (8 MiB chunks)\n", bestRead, mib / bestRead);
  std::printf("ratio ReadSectors/cat: %.2f\n", bestCat / bestRead);
  return 0;
}
