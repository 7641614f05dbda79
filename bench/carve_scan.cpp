// The whole deep scan as `recover --mode 1` runs it (sector classification
// and signature carving with every size rule, then the organisation)
// against `cat` and PhotoRec on the same page-cached image.
//
//   bench_carve_scan [IMAGE]
//
// Without IMAGE a 1 GiB image is made under /tmp from the real files of
// ../shared/corpus (every file, 4 KiB aligned, over and over, with random
// bytes between them), so that the carvers have real work: photos, office
// documents, archives, audio and video. Prints the times and the ratios
// (higher is faster for Ambrel), the files each tool found, and the peak
// memory of the scan.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "deepscan/deep_scan_extensions.h"
#include "deepscan/scan_session.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kImageBytes = 1ull << 30;

std::vector<std::vector<char>> CorpusFiles() {
  std::vector<std::vector<char>> files;
  for (const char* root : {"../shared/corpus", "../../shared/corpus", "/work/shared/corpus"}) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
      if (!entry.is_regular_file() || entry.file_size() > (16u << 20) || entry.file_size() < 512) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      files.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    break;
  }
  return files;
}

bool MakeImage(const std::string& path) {
  std::error_code ec;
  if (fs::file_size(path, ec) == kImageBytes) return true;
  const auto files = CorpusFiles();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::uint64_t written = 0, x = 0x9E3779B97F4A7C15ull;
  std::vector<char> noise(64 << 10);
  for (std::size_t i = 0; written < kImageBytes && out; ++i) {
    // Random bytes up to the next 4 KiB boundary and a little beyond.
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    std::uint64_t gap = (4096 - written % 4096) % 4096 + ((x >> 33) % 16) * 4096;
    for (std::size_t j = 0; j < noise.size(); j += 8) {
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      std::memcpy(noise.data() + j, &x, 8);
    }
    while (gap > 0 && written < kImageBytes) {
      const std::uint64_t n = std::min<std::uint64_t>({gap, noise.size(), kImageBytes - written});
      out.write(noise.data(), static_cast<std::streamsize>(n));
      written += n;
      gap -= n;
    }
    if (files.empty() || written >= kImageBytes) continue;
    const auto& file = files[i % files.size()];
    const std::uint64_t n = std::min<std::uint64_t>(file.size(), kImageBytes - written);
    out.write(file.data(), static_cast<std::streamsize>(n));
    written += n;
  }
  return static_cast<bool>(out);
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double TimeCommand(const std::string& command) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return Seconds(start);
}

double TimeScan(const std::string& image, std::size_t& carved) {
  ambrel::DiskHandle probe;
  if (!ambrel::OpenByPath(image, probe)) return -1;
  ambrel::PartitionInfo disk;
  disk.sectorCount = disk.diskSectorCount = probe.lastLba + 1;
  disk.diskPath = disk.diskName = image;
  probe.Close();
  ambrel::DeepScanExtensions extensions;
  ambrel::ScanEnvironment env;
  env.organiseDelayMs = 0;
  env.extensions = &extensions;
  const auto settings = ambrel::DefaultScanSettings(disk, ambrel::RecoveryMode::kAllFiles);
  const auto start = Clock::now();
  ambrel::ScanSession scan(std::move(disk), ambrel::RecoveryMode::kAllFiles, settings, env);
  scan.Start();
  scan.Join();
  const double seconds = Seconds(start);
  carved = 0;
  for (const auto& part : extensions.TakeResults())
    if (part && part->fsKind == ambrel::kFsSignature) carved = part->table.fileCount;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string image = argc > 1 ? argv[1] : "/tmp/ambrel-bench-carve-1gib.img";
  if (argc <= 1 && !MakeImage(image)) return 1;
  const std::string quoted = "'" + image + "'";
  TimeCommand("cat " + quoted + " > /dev/null");
  double cat = 1e9, scan = 1e9;
  std::size_t carved = 0;
  for (int i = 0; i < 3; ++i) {
    cat = std::min(cat, TimeCommand("cat " + quoted + " > /dev/null"));
    scan = std::min(scan, TimeScan(image, carved));
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double mib = static_cast<double>(fs::file_size(image)) / (1 << 20);
  std::printf("image %.0f MiB\n", mib);
  std::printf("cat        %6.2f s  %6.0f MiB/s\n", cat, mib / cat);
  std::printf("ambrel     %6.2f s  %6.0f MiB/s  %zu files carved  (cat/ambrel %.2f)\n", scan,
              mib / scan, carved, cat / scan);
  std::printf("peak memory of the scanning process: %.0f MiB\n", usage.ru_maxrss / 1024.0);
  if (std::system("command -v photorec > /dev/null 2>&1") == 0) {
    const std::string out = "/tmp/ambrel-bench-photorec";
    std::system(("rm -rf " + out + "*").c_str());
    const double photorec =
        TimeCommand("photorec /log /d " + out + " /cmd " + quoted + " partition_none,search > /dev/null 2>&1");
    std::size_t found = 0;
    std::error_code ec;
    for (const auto& dir : fs::directory_iterator("/tmp", ec))
      if (dir.path().string().rfind(out, 0) == 0 && dir.is_directory())
        for (const auto& f : fs::directory_iterator(dir.path(), ec)) found += f.is_regular_file() && f.path().extension() != ".xml";
    std::printf("photorec   %6.2f s  %6.0f MiB/s  %zu files written  (photorec/ambrel %.2f)\n", photorec,
                mib / photorec, found, photorec / scan);
    std::system(("rm -rf " + out + "* photorec.log").c_str());
  } else {
    std::printf("photorec not installed (apt-get install testdisk)\n");
  }
  return 0;
}
