// Fuzzes exFAT entry-set decoding, the sector checks, the directory walk
// (recursion into subdirectories, the search for folders it does not
// reach), extents and the rebuild from directory
// hits over a small volume whose FAT and cluster heap are the fuzz input,
// and the solving of a formatted-over volume's layout from its folders.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "fs/exfat/exfat_entries.h"
#include "fs/exfat/exfat_former_layout.h"
#include "fs/exfat/exfat_reader.h"
#include "device/memory_device.h"

using namespace ambrel;

namespace {

void PutLe(std::uint8_t* p, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// FAT at sector 1 (2 sectors), heap at sector 3, root directory in cluster 2.
BootSector MakeBoot(std::uint8_t shift, std::uint64_t sectors) {
  BootSector b{};
  b[0] = 0xEB;
  std::memcpy(&b[3], "EXFAT   ", 8);
  PutLe(&b[72], sectors, 8);
  PutLe(&b[80], 1, 4);
  PutLe(&b[84], 2, 4);
  PutLe(&b[88], 3, 4);
  PutLe(&b[92], sectors > 3 ? (sectors - 3) >> shift : 0, 4);
  PutLe(&b[96], 2, 4);
  b[108] = 9;
  b[109] = shift;
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool init = [] {
    SetSettingsLoaded(true);
    OverrideSetting("ParseFileSys", "1");
    return true;
  }();
  (void)init;
  if (size < 1) return 0;
  const std::uint8_t shift = data[0] & 3;
  DecodeExfatEntries(std::span(data, size));
  IsExfatFolderStart(std::span(data, size));
  // A folder's later cluster: the whole set found lies inside the bytes,
  // after at most 18 entries of the set before it.
  if (const std::size_t piece = ExfatFolderPieceStart(std::span(data, size)); piece != 0) {
    if (piece % 32 != 0 || piece > 18 * 32 || piece >= size || !IsExfatFolderStart(std::span(data + piece, size - piece)))
      __builtin_trap();
  }
  std::vector<std::uint8_t> image(512 + size, 0);
  std::memcpy(image.data() + 512, data, size);
  image.resize((image.size() + 511) / 512 * 512);
  for (std::size_t off = 512; off + 512 <= image.size(); off += 512) {
    CheckExfatEntrySets(std::span(image.data() + off, 512), 0);
    IsExfatRootDirectory(std::span(image.data() + off, 512));
  }
  const std::uint64_t sectors = image.size() / 512;
  BootSector boot = MakeBoot(shift, sectors);
  std::memcpy(image.data(), boot.data(), 512);
  std::vector<std::uint64_t> hits;
  for (std::uint64_t lba = 1; lba < sectors; ++lba)
    if (CheckExfatEntrySets(std::span(image.data() + lba * 512, 512), 0)) hits.push_back(lba);

  PartitionInfo p;
  p.fsKind = kFsExfat;
  p.sectorCount = sectors;
  p.bootSector = boot;
  DiskHandle handle = HandleForDevice(std::make_shared<MemoryDevice>(std::move(image)), "fuzz");
  ReadExfatVolume(nullptr, p, handle, (data[0] & 4) ? OrphanFolderSearch::kAlways : OrphanFolderSearch::kOff);
  ParseExfatEntries(nullptr, handle, nullptr, p, data, size, kRootId);
  ExtentList extents;
  for (std::uint32_t id = 0; id < p.table.count; ++id)
    if (const FoundFileNode* n = NodeAt(p.table, id)) ExfatFileExtents(extents, *n, p);
  IsExfatVolumeAt(boot, handle, 0);
  std::vector<PartitionInfo> rebuilt;
  RebuildExfatFromScan(nullptr, nullptr, handle, "fuzz", hits, rebuilt);
  // The links of every directory sector to the others: the layout solver.
  std::vector<FormerDirectoryRun> runs;
  std::vector<SignatureStart> signatures;
  for (std::uint64_t lba : hits) {
    const auto bytes = std::span(data, size).subspan(std::min<std::size_t>(size, (lba - 1) * 512));
    runs.push_back({lba, ExfatSubdirectoryClusters(bytes), ExfatFileClusters(bytes)});
    for (const ExfatNamedFile& f : runs.back().files) signatures.push_back({lba + f.firstCluster % 64, f.extension});
  }
  SolveFormerExfatLayout(runs, 1);
  SolveFormerExfatLayoutByFiles(runs, signatures, 1);
  return 0;
}
