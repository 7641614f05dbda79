// Memory of FILE-record hits: a scan of a large NTFS volume keeps one hit
// with its summary per record found, so their size bounds how large a
// volume a scan can hold. Builds N hits (default 10 million) as the sector
// classifier makes them, names of 6 to 30 characters and short run lists,
// and prints the resident memory they take per hit.
//
//   bench_file_record_hits [N]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "deepscan/scan_hit.h"

namespace {

// Resident set size in bytes, from /proc/self/statm.
std::uint64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * 4096;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10'000'000ull;
  const std::uint64_t before = ResidentBytes();
  // Hits are kept per chunk of 8192 records, each chunk's summaries packed
  // by that chunk's arena, as the scan keeps them.
  std::vector<ambrel::HitList> chunks((n + 8191) / 8192);
  ambrel::RecordSummaryArena arena;
  std::uint64_t x = 0x243F6A8885A308D3ull;
  ambrel::FileRecordSummary summary;
  for (std::uint64_t i = 0; i < n; ++i) {
    if (i % 8192 == 0) arena = ambrel::RecordSummaryArena();
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    ambrel::ScanHit hit;
    hit.kind = ambrel::kHitFileRecord;
    hit.lba = 2 * i;
    summary.recordNumber = static_cast<std::uint32_t>(i);
    summary.parentRecord = 5;
    summary.name.assign(6 + (x >> 59) % 25, u'a');
    summary.runs.assign(4 + (x >> 40) % 8, 0x11);
    summary.dataSize = x >> 44;
    summary.allocatedSize = summary.dataSize;
    hit.record = arena.Add(summary);
    chunks[i / 8192].push_back(std::move(hit));
  }
  const std::uint64_t after = ResidentBytes();
  std::printf("%llu FILE-record hits: %.1f MiB resident, %.1f bytes per hit (sizeof ScanHit %zu, summary reference %zu)\n",
              static_cast<unsigned long long>(n), double(after - before) / (1 << 20),
              double(after - before) / double(n), sizeof(ambrel::ScanHit), sizeof(ambrel::RecordSummaryRef));
  return 0;
}
