// Fuzzes FAT directory decoding, the directory walk, the search for folders
// the walk does not reach, the FAT32 high-word recovery and extent
// computation over a small volume whose FATs, root and data area are the
// fuzz input.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "app/settings.h"
#include "catalog/node_table.h"
#include "fs/fat/fat32_high_words.h"
#include "fs/fat/fat_directory.h"
#include "fs/fat/fat_reader.h"
#include "device/memory_device.h"

using namespace ambrel;

namespace {

void PutLe(std::uint8_t* p, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Boot sector of a volume with 512-byte sectors, one reserved sector, two
// FATs of 4 sectors, and (FAT16) a 2-sector root directory.
BootSector MakeBoot(bool fat32, std::uint8_t spc, std::uint64_t totalSectors) {
  BootSector b{};
  b[0] = 0xEB;
  PutLe(&b[11], 512, 2);
  b[13] = spc;
  PutLe(&b[14], 1, 2);
  b[16] = 2;
  PutLe(&b[17], fat32 ? 0 : 32, 2);
  b[21] = 0xF8;
  PutLe(&b[22], fat32 ? 0 : 4, 2);
  PutLe(&b[32], totalSectors, 4);
  if (fat32) {
    PutLe(&b[36], 4, 4);
    PutLe(&b[44], 2, 4);
  }
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool fat32 = data[0] & 1;
  const std::uint8_t spc = static_cast<std::uint8_t>(1u << ((data[0] >> 1) & 3));
  const bool scanned = data[0] & 8;
  DecodeFatDirectory(std::span(data, size), fat32);
  IsFatFolderStart(std::span(data + 1, size - 1), data[1], 0xFFF6, fat32);

  std::vector<std::uint8_t> image(512 + size, 0);
  std::memcpy(image.data() + 512, data, size);
  image.resize((image.size() + 511) / 512 * 512);
  BootSector boot = MakeBoot(fat32, spc, image.size() / 512);
  std::memcpy(image.data(), boot.data(), 512);

  PartitionInfo p;
  p.fsKind = fat32 ? kFsFat32 : kFsFat16;
  p.sectorCount = image.size() / 512;
  p.bootSector = boot;
  DiskHandle handle = HandleForDevice(std::make_shared<MemoryDevice>(std::move(image)), "fuzz");
  ParseContext context;
  context.orphanFolders = (data[0] & 16) ? OrphanFolderSearch::kAlways : OrphanFolderSearch::kOff;
  if (scanned) {
    context.scanCompleted = true;
    for (std::uint64_t lba = 0; lba < p.sectorCount; lba += 2)
      context.scanHits.push_back({lba, static_cast<std::uint16_t>(lba % 240)});
  }
  ReadFatVolume(nullptr, p, handle, &context);
  ParseFatDirectory(p, data, size, nullptr, kRootId);
  ExtentList extents;
  for (std::uint32_t id = 0; id < p.table.count; ++id)
    if (const FoundFileNode* n = NodeAt(p.table, id)) FatFileExtents(p, *n, extents);
  return 0;
}
