// Deep-scan throughput (reading thread, ring, classification of every
// sector) against `cat IMAGE > /dev/null` on the same image.
//
//   bench_deep_scan [IMAGE] [benchmark flags]
//
// Without IMAGE a 512 MiB image of varied data with an NTFS volume's worth
// of FILE records every 64 MiB is made under /tmp. The image is read once
// to warm the page cache; the ratio printed first is scan MB/s over cat
// MB/s (best of three each); the Google Benchmark cases follow.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "deepscan/scan_session.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kImageBytes = 512ull << 20;
std::string gImage;

bool MakeImage(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == kImageBytes) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint8_t> block(1 << 20);
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  for (std::uint64_t done = 0; done < kImageBytes && out; done += block.size()) {
    for (std::size_t i = 0; i < block.size(); i += 8) {
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      std::memcpy(block.data() + i, &x, 8);
    }
    if (done % (64ull << 20) == 0)
      for (std::size_t r = 0; r < 512; ++r) {  // 512 FILE-record headers
        std::uint8_t* rec = block.data() + r * 1024;
        std::memset(rec, 0, 1024);
        std::memcpy(rec, "FILE", 4);
        rec[0x14] = 0x38;
        rec[0x18] = 0x98;
        rec[0x1D] = 0x04;
        rec[0x38] = 0x10;
      }
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
  }
  return static_cast<bool>(out);
}

double TimeCat() {
  const auto start = Clock::now();
  if (std::system(("cat '" + gImage + "' > /dev/null").c_str()) != 0) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double TimeScan() {
  ambrel::DiskHandle probe;
  if (!ambrel::OpenByPath(gImage, probe)) return -1;
  ambrel::PartitionInfo disk;
  disk.sectorCount = disk.diskSectorCount = probe.lastLba + 1;
  disk.diskPath = gImage;
  probe.Close();
  ambrel::ScanEnvironment env;
  env.organiseDelayMs = 0;
  env.pollMs = 1;
  env.open = [](const ambrel::PartitionInfo&, ambrel::DiskHandle& h) { return ambrel::OpenByPath(gImage, h); };
  const auto start = Clock::now();
  ambrel::ScanSession scan(std::move(disk), ambrel::RecoveryMode::kDiskFiles,
                           ambrel::DeepScanSettings{}, env);
  scan.Start();
  scan.Join();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_Cat(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(TimeCat());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(gImage)));
}
void BM_DeepScan(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(TimeScan());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(gImage)));
}
BENCHMARK(BM_Cat)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DeepScan)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  gImage = (argc > 1 && argv[1][0] != '-') ? argv[1] : "/tmp/ambrel-bench-scan-512mib.img";
  if (!(argc > 1 && argv[1][0] != '-') && !MakeImage(gImage)) return 1;
  TimeCat();
  double cat = 1e9, scan = 1e9;
  for (int i = 0; i < 3; ++i) {
    cat = std::min(cat, TimeCat());
    scan = std::min(scan, TimeScan());
  }
  const double mib = static_cast<double>(std::filesystem::file_size(gImage)) / (1 << 20);
  std::printf("cat %.0f MiB/s, deep scan %.0f MiB/s, ratio scan/cat %.2f\n", mib / cat, mib / scan,
              cat / scan);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
