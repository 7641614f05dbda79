#include "fs/fat/fat_boot_fields.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "common/byte_cursor.h"
#include "fs/fat/fat_directory.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxFoldersAsked = 16;
// The cluster count under test may be off with the root size: any cluster
// number a FAT16 entry can hold is allowed for "..".
constexpr std::uint64_t kHighestFat16Cluster = 0xFFF6;
constexpr std::uint64_t kMaxRootSectorsTried = 4096;  // 65535 entries of 32 bytes in 512-byte sectors

bool IsPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

std::vector<FatBootProblem> CheckFatBootFields(std::span<const std::uint8_t> boot, std::uint64_t /*volumeSectors*/) {
  std::vector<FatBootProblem> out;
  ByteCursor b(boot);
  if (b.size() < 512) return out;
  const std::uint32_t bytesPerSector = b.UncheckedU16(11);
  if (!IsPowerOfTwo(b.UncheckedU8(13))) out.push_back(FatBootProblem::kClusterSizeNotPowerOfTwo);
  if (b.UncheckedU16(14) == 0) out.push_back(FatBootProblem::kNoReservedSectors);
  if (b.UncheckedU8(16) == 0) out.push_back(FatBootProblem::kNoFats);
  const bool fat32 = b.UncheckedU16(22) == 0;
  const std::uint32_t rootEntries = b.UncheckedU16(17);
  if (!fat32 && rootEntries == 0) out.push_back(FatBootProblem::kNoRootEntries);
  if (!fat32 && bytesPerSector != 0 && (rootEntries * 32) % bytesPerSector != 0)
    out.push_back(FatBootProblem::kRootEntriesPartialSector);
  if (auto g = DecodeFatGeometry(boot, 0)) {
    const std::uint64_t entries = g->fatSectors * 512 * 8 / g->EntryBits();
    if (g->fatCount != 0 && entries < g->clusterCount + 2) out.push_back(FatBootProblem::kFatTooSmall);
  }
  return out;
}

std::optional<std::uint16_t> RootEntriesFromFolders(const FatGeometry& g, const FatSectorReader& read) {
  if (g.fat32 || g.spc == 0) return std::nullopt;
  // Read the root as recorded (or as the largest count tried) and take its
  // live subdirectory entries; the decoder stops at the end mark.
  const std::uint64_t recordedSectors = (std::uint64_t(g.rootEntries) * 32 + 511) / 512;
  const std::uint64_t maxSectors = std::min<std::uint64_t>(std::max<std::uint64_t>(recordedSectors, 64), kMaxRootSectorsTried);
  std::vector<std::uint8_t> root(std::max<std::uint64_t>(recordedSectors, 1) * 512, 0);
  root.resize(std::min<std::uint64_t>(root.size(), maxSectors * 512));
  if (!read(g.rootStart, static_cast<std::uint32_t>(root.size() / 512), root.data())) return std::nullopt;
  std::vector<std::uint32_t> folders;
  for (const FatDirEntry& e : DecodeFatDirectory(root, false)) {
    if (!e.directory || e.deleted || e.firstCluster < 2 || e.name == "." || e.name == "..") continue;
    folders.push_back(e.firstCluster);
    if (folders.size() == kMaxFoldersAsked) break;
  }
  if (folders.empty()) return std::nullopt;
  // The data area starts `k` sectors after the root's start; the recorded
  // count gives k = recordedSectors.
  std::vector<std::uint8_t> sector(512);
  auto confirms = [&](std::uint64_t k, std::uint32_t cluster) {
    const std::uint64_t lba = g.rootStart + k + std::uint64_t(cluster - 2) * g.spc;
    return read(lba, 1, sector.data()) && IsFatFolderStart(sector, cluster, kHighestFat16Cluster, false);
  };
  bool allConfirm = true;
  for (std::uint32_t c : folders) allConfirm = allConfirm && confirms(recordedSectors, c);
  if (allConfirm) return std::nullopt;
  // Each folder votes for every data start under which its cluster holds
  // its "." and "..": one read of the span of starts per folder.
  std::map<std::uint64_t, std::uint32_t> votes;
  std::vector<std::uint8_t> span(maxSectors * 512);
  for (std::uint32_t c : folders) {
    const std::uint64_t from = g.rootStart + 1 + std::uint64_t(c - 2) * g.spc;  // k = 1
    if (!read(from, static_cast<std::uint32_t>(maxSectors), span.data())) continue;
    for (std::uint64_t k = 1; k <= maxSectors; ++k)
      if (IsFatFolderStart(std::span(span.data() + (k - 1) * 512, 512), c, kHighestFat16Cluster, false)) ++votes[k];
  }
  std::uint64_t best = 0;
  std::uint32_t bestVotes = 0;
  for (const auto& [k, n] : votes)
    if (n > bestVotes) best = k, bestVotes = n;
  const auto recorded = votes.find(recordedSectors);
  const std::uint32_t recordedVotes = recorded == votes.end() ? 0 : recorded->second;
  if (bestVotes <= recordedVotes || best * 512 / 32 > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(best * 512 / 32);
}

void SettleFatBootFields(PartitionInfo& partition, const FatSectorReader& read) {
  FatBootCheck check;
  check.problems = CheckFatBootFields(partition.bootSector, partition.sectorCount);
  auto g = FatGeometryOf(partition);
  if (!g) {
    partition.fatBoot = std::move(check);
    return;
  }
  check.rootEntriesRecorded = check.rootEntriesUsed = g->rootEntries;
  // The entries are counted in 512-byte units below; a volume of larger
  // sectors keeps its count.
  const std::uint32_t bytesPerSector = ByteCursor(partition.bootSector).U16(11).value_or(0);
  if (!g->fat32 && bytesPerSector == 512) {
    if (auto entries = RootEntriesFromFolders(*g, read)) {
      partition.bootSector[17] = static_cast<std::uint8_t>(*entries);
      partition.bootSector[18] = static_cast<std::uint8_t>(*entries >> 8);
      check.rootEntriesUsed = *entries;
    }
  }
  partition.fatBoot = std::move(check);
}

}  // namespace ambrel
