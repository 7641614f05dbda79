// Lists a FAT32 and an exFAT volume of 50,000 files with the readers and with
// The Sleuth Kit's `fls -r -p`, and prints the time ratio.
//
//   bench_fat_list [--files N] [--keep DIR]
//
// The images are made on demand in a temporary folder (mkfs.vfat + mtools for
// FAT32; mkfs.exfat, a loop device and exfat-fuse for exFAT, which need root
// and are skipped otherwise).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "fs/exfat/exfat_reader.h"
#include "fs/fat/fat_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

bool Run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A tree of `files` small files: 100 folders of files / 100 each.
bool MakeTree(const std::string& dir, int files) {
  return Run("mkdir -p '" + dir + "' && cd '" + dir + "' && for d in $(seq 1 100); do mkdir \"folder $d\"; done && " +
             "perl -e 'for $i (0.." + std::to_string(files - 1) +
             ") { $d = $i % 100 + 1; open F, \">folder $d/file number $i.txt\"; print F \"x\" x ($i % 700); close F }'");
}

bool MakeFat32(const std::string& tree, const std::string& image) {
  return Run("rm -f '" + image + "' && truncate -s 300M '" + image + "' && mkfs.vfat -F 32 -s 1 '" + image +
             "' > /dev/null && MTOOLS_SKIP_CHECK=1 mcopy -s -i '" + image + "' '" + tree + "'/* ::/");
}

bool MakeExfat(const std::string& tree, const std::string& image, const std::string& mnt) {
  return Run("rm -f '" + image + "' && truncate -s 512M '" + image + "' && mkdir -p '" + mnt + "' && " +
             "loop=$(losetup -f --show '" + image + "') || exit 1; " +
             "mkfs.exfat -c 4096 \"$loop\" > /dev/null && mount.exfat-fuse \"$loop\" '" + mnt + "' && " +
             "{ cp -r '" + tree + "'/* '" + mnt + "'/; rc=$?; umount '" + mnt + "'; }; " +
             "losetup -d \"$loop\"; exit ${rc:-1}");
}

ambrel::PartitionInfo ImagePartition(const std::string& path, std::int32_t kind) {
  ambrel::PartitionInfo p;
  p.fsKind = kind;
  p.diskPath = path;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  p.sectorCount = static_cast<std::uint64_t>(in.tellg()) / 512;
  in.seekg(0);
  in.read(reinterpret_cast<char*>(p.bootSector.data()), 512);
  return p;
}

// Best of three: our listing, then fls writing its listing to /dev/null.
void Compare(const char* label, const std::string& image, std::int32_t kind) {
  double ours = 1e9, theirs = 1e9;
  std::uint32_t nodes = 0;
  for (int round = 0; round < 3; ++round) {
    ambrel::PartitionInfo p = ImagePartition(image, kind);
    auto t0 = Clock::now();
    bool ok = kind == ambrel::kFsExfat ? ambrel::ReadExfatPartition(nullptr, p) : ambrel::ReadFatPartition(nullptr, p);
    auto t1 = Clock::now();
    if (!ok) {
      std::printf("%s: the reader failed\n", label);
      return;
    }
    nodes = ambrel::CountLive(p.table);
    ours = std::min(ours, Seconds(t0, t1));
    auto t2 = Clock::now();
    Run("fls -r -p '" + image + "' > /dev/null");
    theirs = std::min(theirs, Seconds(t2, Clock::now()));
  }
  std::printf("%-6s %u nodes: reader %.3f s, fls -r -p %.3f s, ratio %.1fx\n", label, nodes, ours, theirs,
              theirs / ours);
}

}  // namespace

int main(int argc, char** argv) {
  int files = 50000;
  std::string keep;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--files") files = std::atoi(argv[i + 1]);
    if (std::string(argv[i]) == "--keep") keep = argv[i + 1];
  }
  if (!Run("command -v fls mkfs.vfat mcopy > /dev/null")) {
    std::printf("needs fls (sleuthkit), mkfs.vfat (dosfstools) and mcopy (mtools)\n");
    return 1;
  }
  ambrel::SetSettingsLoaded(true);
  ambrel::OverrideSetting("ParseFileSys", "1");
  std::string dir = keep.empty() ? (std::filesystem::temp_directory_path() / "ambrel-bench-fat").string() : keep;
  std::filesystem::create_directories(dir);
  std::string tree = dir + "/tree", fat = dir + "/fat32.img", exfat = dir + "/exfat.img";
  if (!std::filesystem::exists(tree) && !MakeTree(tree, files)) return 1;
  if (!std::filesystem::exists(fat) && !MakeFat32(tree, fat)) return 1;
  Compare("FAT32", fat, ambrel::kFsFat32);
  bool root = ::geteuid() == 0;
  if (root && (std::filesystem::exists(exfat) || MakeExfat(tree, exfat, dir + "/mnt")))
    Compare("exFAT", exfat, ambrel::kFsExfat);
  else
    std::printf("exFAT skipped (needs root for a loop device and exfat-fuse)\n");
  if (keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
