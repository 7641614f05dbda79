// The cost of looking for folders no folder reaches: lists a sparse FAT32
// volume whose clusters are nearly all free, with the search off and on
// (the listing's default up to 32 GiB), and prints both times.
//
//   bench_orphan_search [--size-mib N] [--spc S] [--runs R] [--keep DIR]
//
// The image is made in a temporary folder with mkfs.fat and mtools: a few
// folders of files, and one folder tree removed with mdeltree whose root
// entry is then wiped, so that the search has something to find.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "fs/fat/fat_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

bool Run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

bool MakeImage(const std::string& dir, const std::string& image, unsigned sizeMib, unsigned spc) {
  const std::string m = "MTOOLS_SKIP_CHECK=1 ", q = "'" + image + "'";
  std::string s = "cd '" + dir + "' && rm -f " + q + " && truncate -s " + std::to_string(sizeMib) + "M " + q +
                  " && mkfs.fat -F 32 -s " + std::to_string(spc) + " " + q + " >/dev/null && head -c 70000 /dev/urandom > f";
  s += " && " + m + "mmd -i " + q + " ::/KEEP ::/GONE ::/GONE/SUB";
  for (int i = 0; i < 20; ++i) s += " && " + m + "mcopy -i " + q + " f ::/KEEP/K" + std::to_string(i) + ".BIN";
  for (int i = 0; i < 20; ++i) s += " && " + m + "mcopy -i " + q + " f ::/GONE/G" + std::to_string(i) + ".BIN";
  s += " && " + m + "mcopy -i " + q + " f ::/GONE/SUB/S.BIN && " + m + "mdeltree -i " + q + " ::/GONE";
  if (!Run(s)) return false;
  // Wipe the deleted root entry of GONE: nothing names its cluster any more.
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<unsigned char> boot(512);
  f.read(reinterpret_cast<char*>(boot.data()), 512);
  auto u16 = [&](int at) { return unsigned(boot[at]) | unsigned(boot[at + 1]) << 8; };
  auto u32 = [&](int at) { return u16(at) | std::uint64_t(u16(at + 2)) << 16; };
  const std::uint64_t data = (u16(14) + std::uint64_t(boot[16]) * u32(36)) * 512;
  const std::uint64_t root = data + (u32(44) - 2) * boot[13] * 512;
  std::vector<char> entries(boot[13] * 512);
  f.seekg(static_cast<std::streamoff>(root));
  f.read(entries.data(), static_cast<std::streamsize>(entries.size()));
  for (std::size_t at = 0; at + 32 <= entries.size(); at += 32)
    if (static_cast<unsigned char>(entries[at]) == 0xE5 && std::string(entries.data() + at + 1, 10) == "ONE       ") {
      std::fill(entries.begin() + static_cast<long>(at) + 1, entries.begin() + static_cast<long>(at) + 32, '\0');
      f.seekp(static_cast<std::streamoff>(root));
      f.write(entries.data(), static_cast<std::streamsize>(entries.size()));
      return true;
    }
  return false;
}

ambrel::PartitionInfo ImagePartition(const std::string& path) {
  ambrel::PartitionInfo p;
  p.fsKind = ambrel::kFsFat32;
  p.diskPath = path;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  p.sectorCount = static_cast<std::uint64_t>(in.tellg()) / 512;
  in.seekg(0);
  in.read(reinterpret_cast<char*>(p.bootSector.data()), 512);
  return p;
}

// The best of `runs` listings, in seconds, and the entries listed.
double TimeListing(const std::string& image, ambrel::OrphanFolderSearch search, int runs, std::uint32_t& entries) {
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    ambrel::PartitionInfo p = ImagePartition(image);
    ambrel::ParseContext context;
    context.orphanFolders = search;
    const auto t0 = Clock::now();
    ambrel::DiskHandle handle;
    if (!ambrel::OpenPartition(p, handle) || !ambrel::ReadFatVolume(nullptr, p, handle, &context)) return -1;
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    entries = 0;
    for (std::uint32_t id = 0; id < p.table.count; ++id)
      if (ambrel::NodeAt(p.table, id)) ++entries;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned sizeMib = 1024, spc = 8;
  int runs = 5;
  std::string keep;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--size-mib") sizeMib = static_cast<unsigned>(std::atoi(argv[i + 1]));
    else if (a == "--spc") spc = static_cast<unsigned>(std::atoi(argv[i + 1]));
    else if (a == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    else if (a == "--keep") keep = argv[i + 1];
  }
  ambrel::SetSettingsLoaded(true);
  ambrel::OverrideSetting("ParseFileSys", "1");
  const std::string dir = keep.empty() ? (std::filesystem::temp_directory_path() /
                                          ("bench-orphans-" + std::to_string(::getpid()))).string()
                                       : keep;
  std::filesystem::create_directories(dir);
  const std::string image = dir + "/fat32.img";
  if (!MakeImage(dir, image, sizeMib, spc)) {
    std::fprintf(stderr, "could not make the image (mkfs.fat and mtools needed)\n");
    return 1;
  }
  std::uint32_t without = 0, with = 0;
  const double off = TimeListing(image, ambrel::OrphanFolderSearch::kOff, runs, without);
  const double on = TimeListing(image, ambrel::OrphanFolderSearch::kAlways, runs, with);
  std::printf("FAT32 %u MiB, %u sectors per cluster, best of %d\n", sizeMib, spc, runs);
  std::printf("  without the search: %.3f s, %u nodes\n", off, without);
  std::printf("  with the search:    %.3f s, %u nodes (+%.3f s)\n", on, with, on - off);
  if (keep.empty()) std::filesystem::remove_all(dir);
  return off < 0 || on < 0 ? 1 : 0;
}
