// Copying a contiguous 1 GiB file out of an image that sits in the page
// cache, against `cat` of the same bytes, in one run.
//
//   bench_copy_out [WORK_DIR] [OUT_DIR]
//
// WORK_DIR holds the image (made on first use, 1 GiB of non-zero data);
// OUT_DIR receives the copies (default /dev/shm when present, so that both
// writers see the same fast target). Prints both times, the throughput ratio
// (cat time / copy time; 1.0 = as fast as cat) and the peak memory.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "recovery/copy_out.h"

namespace {

namespace fs = std::filesystem;
using ambrel::kRootId;

constexpr std::uint64_t kFileBytes = 1ull << 30;

bool MakeImage(const std::string& path) {
  std::error_code ec;
  if (fs::exists(path, ec) && fs::file_size(path, ec) == kFileBytes) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
  for (std::uint64_t mib = 0; mib < kFileBytes >> 20; ++mib) {
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = (mib << 32) ^ (i * 0x9E3779B97F4A7C15ull);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
  }
  return static_cast<bool>(out);
}

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double TimeCat(const std::string& image, const std::string& out) {
  const auto start = std::chrono::steady_clock::now();
  const std::string cmd = "cat '" + image + "' > '" + out + "'";
  if (std::system(cmd.c_str()) != 0) return -1;
  const double t = Seconds(start);
  fs::remove(out);
  return t;
}

double TimeCopy(const ambrel::SaveSource& rows, std::uint32_t id, const std::string& folder) {
  ambrel::SaveJob job;
  job.target = folder;
  job.source = &rows;
  job.nodeId = id;
  const auto start = std::chrono::steady_clock::now();
  if (!ambrel::StartSaveJob(job, &ambrel::SaveCurrFileThread, nullptr) || !job.failedFiles.empty()) return -1;
  const double t = Seconds(start);
  fs::remove(folder + "/big.bin");
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string work = argc > 1 ? argv[1] : fs::temp_directory_path().string();
  const std::string outDir = argc > 2 ? argv[2] : (fs::is_directory("/dev/shm") ? "/dev/shm" : work);
  const std::string image = work + "/ambrel-copy-out-bench.img";
  if (!MakeImage(image)) {
    std::fprintf(stderr, "cannot make %s\n", image.c_str());
    return 1;
  }
  const std::string folder = outDir + "/ambrel-copy-out-bench";
  fs::create_directories(folder);
  ambrel::SetSettingsLoaded(true);
  ambrel::OverrideSetting("SaveDir", "");

  // The image as the whole of a partition whose one file is contiguous from
  // sector 0 (the signature-result kind).
  ambrel::PartitionInfo partition;
  partition.fsKind = ambrel::kFsSignature;
  partition.diskPath = image;
  partition.sectorCount = kFileBytes / 512;
  partition.table.isSignatureTable = true;
  ambrel::InitTable(partition.table);
  ambrel::FoundFileNode node{};
  node.parentId = kRootId;
  node.size = kFileBytes;
  ambrel::SetKind(node, ambrel::kPresentFile);
  const std::uint32_t id = ambrel::AddNodeNamed(partition.table, node, "big.bin", true);
  ambrel::PartitionRows rows;
  rows.Add(&partition, "bench");

  TimeCat(image, folder + "/warm.bin");  // bring the image into the page cache
  double bestCat = 1e9, bestCopy = 1e9;
  for (int round = 0; round < 5; ++round) {
    const double c = TimeCat(image, folder + "/cat.bin");
    const double o = TimeCopy(rows, id, folder);
    if (c < 0 || o < 0) {
      std::fprintf(stderr, "a copy failed\n");
      return 1;
    }
    bestCat = std::min(bestCat, c);
    bestCopy = std::min(bestCopy, o);
    std::printf("round %d: cat %.3f s, copy-out %.3f s\n", round + 1, c, o);
  }
  fs::remove_all(folder);
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("1 GiB contiguous file, best of 5: cat %.3f s (%.0f MiB/s), copy-out %.3f s (%.0f MiB/s)\n", bestCat,
              1024 / bestCat, bestCopy, 1024 / bestCopy);
  std::printf("throughput ratio copy-out / cat: %.2f (target >= 0.9)\n", bestCat / bestCopy);
  std::printf("peak memory of the copying process: %.1f MiB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
