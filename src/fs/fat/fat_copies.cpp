#include "fs/fat/fat_copies.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "catalog/node_table.h"
#include "diag/log.h"

namespace ambrel {
namespace {

constexpr std::uint64_t kCompareChunkSectors = 2048;  // 1 MiB per read
constexpr std::uint32_t kMaxDirectoryChain = 1024;     // as the directory reader

std::uint32_t EntryMask(unsigned bits) { return bits == 32 ? 0x0FFFFFFFu : 0xFFFFFFFFu; }

bool IsEnd(std::uint32_t value, unsigned bits) { return IsFatEndOfChain(value, bits == 32); }

// One copy's reading of a file's chain.
struct Chain {
  std::vector<std::uint64_t> clusters;
  std::uint32_t lastEntry = 0;  // the entry of the last cluster held
  bool contiguous = false;      // the first entry reads free: the clusters are assumed in a row
  int fit = 0;                  // 3 exact, 2 long enough, 1 short or looping, 0 clashes with other files
};

Chain WalkChain(const FatEntries& fat, const FatGeometry& g, std::uint64_t first, std::uint64_t wanted) {
  Chain c;
  const unsigned bits = g.EntryBits();
  const std::uint32_t mask = EntryMask(bits);
  const std::uint64_t last = g.clusterCount + 2;
  if ((fat.Next(first) & mask) == 0) {
    // A live entry whose first cluster reads free: the reader takes its
    // clusters as contiguous, so that is this copy's reading.
    c.contiguous = true;
    const std::uint64_t count = std::min(wanted, last - first + 1);
    for (std::uint64_t i = 0; i < count; ++i) c.clusters.push_back(first + i);
    c.fit = count == wanted ? 2 : 1;
    return c;
  }
  std::unordered_set<std::uint64_t> held;
  std::uint64_t cluster = first;
  for (;;) {
    if (!fat.Contains(cluster) || !held.insert(cluster).second) {
      c.fit = 1;
      return c;
    }
    c.clusters.push_back(cluster);
    const std::uint32_t next = fat.Next(cluster) & mask;
    c.lastEntry = next;
    if (c.clusters.size() >= wanted) {
      c.fit = IsEnd(next, bits) ? 3 : 2;
      return c;
    }
    if (next == 0 || !g.InClusterRange(next)) {
      c.fit = 1;
      return c;
    }
    cluster = next;
  }
}

bool SameReading(const Chain& a, const Chain& b) {
  return a.contiguous == b.contiguous && a.clusters == b.clusters && a.lastEntry == b.lastEntry;
}

// A chain that runs into the first cluster of another entry, or into a
// cluster a settled chain holds, cannot be this file's.
bool Clashes(const Chain& c, const std::unordered_set<std::uint64_t>& starts,
             const std::unordered_set<std::uint64_t>& claimed) {
  for (std::size_t i = 0; i < c.clusters.size(); ++i) {
    if (i > 0 && starts.count(c.clusters[i])) return true;
    if (claimed.count(c.clusters[i])) return true;
  }
  return false;
}

}  // namespace

std::uint64_t CountDifferingFatEntries(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second,
                                       unsigned bits) {
  const std::size_t n = std::min(first.size(), second.size());
  if (n == 0) return 0;
  FatGeometry widths;
  widths.fat32 = bits == 32;
  widths.fat12 = bits == 12;
  const FatEntries a(first.first(n), widths), b(second.first(n), widths);
  const std::uint32_t mask = EntryMask(bits);
  std::uint64_t count = 0;
  // Whole blocks that match are skipped a block at a time.
  constexpr std::size_t kBlock = 4096;
  const std::uint64_t entries = a.EntryCount();
  for (std::size_t at = 0; at < n; at += kBlock) {
    const std::size_t len = std::min(kBlock, n - at);
    if (std::memcmp(first.data() + at, second.data() + at, len) == 0) continue;
    // The entries that share a byte of this block (12-bit entries straddle).
    const std::uint64_t from = at * 8 / bits, to = std::min<std::uint64_t>(entries, ((at + len) * 8 + bits - 1) / bits);
    for (std::uint64_t e = from; e < to; ++e)
      if (e >= 2 && ((a.Next(e) ^ b.Next(e)) & mask) != 0) ++count;
  }
  return count;
}

void SetFatEntry(std::vector<std::uint8_t>& bytes, unsigned bits, std::uint64_t cluster, std::uint32_t value) {
  if (bits == 32) {
    if ((cluster + 1) * 4 > bytes.size()) return;
    std::uint8_t* p = bytes.data() + cluster * 4;
    // The top nibble of a FAT32 entry is reserved and kept as it stands.
    std::uint32_t old;
    std::memcpy(&old, p, 4);
    const std::uint32_t v = (old & 0xF0000000u) | (value & 0x0FFFFFFFu);
    std::memcpy(p, &v, 4);
    return;
  }
  if (bits == 16) {
    if ((cluster + 1) * 2 > bytes.size()) return;
    const std::uint16_t v = static_cast<std::uint16_t>(value);
    std::memcpy(bytes.data() + cluster * 2, &v, 2);
    return;
  }
  const std::uint64_t at = cluster + cluster / 2;
  if (at + 1 >= bytes.size()) return;
  const std::uint32_t v = value & 0xFFF;
  if (cluster & 1) {
    bytes[at] = static_cast<std::uint8_t>((bytes[at] & 0x0F) | ((v & 0x0F) << 4));
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 4);
  } else {
    bytes[at] = static_cast<std::uint8_t>(v & 0xFF);
    bytes[at + 1] = static_cast<std::uint8_t>((bytes[at + 1] & 0xF0) | (v >> 8));
  }
}

void CompareFatCopies(PartitionInfo& partition, DiskHandle& handle, const FatGeometry& g, std::uint64_t secondLba,
                      std::uint64_t sectors, const std::atomic<std::uint32_t>* stopWord) {
  partition.fatSecond.clear();
  partition.fatCopies = {};
  if (partition.fat.size() < sectors * kSectorSize) return;
  std::vector<std::uint8_t> chunk;
  bool differs = false;
  for (std::uint64_t s = 0; s < sectors; s += kCompareChunkSectors) {
    if (stopWord && stopWord->load(std::memory_order_relaxed) == 2) break;
    const std::uint64_t n = std::min(kCompareChunkSectors, sectors - s);
    chunk.resize(n * kSectorSize);
    const std::uint8_t* first = partition.fat.data() + s * kSectorSize;
    // A chunk of the second copy that cannot be read says nothing against
    // the first: the first copy stands for it.
    if (!ReadSectors(handle, secondLba + s, static_cast<std::uint32_t>(n), chunk.data()))
      std::memcpy(chunk.data(), first, chunk.size());
    if (!differs && std::memcmp(chunk.data(), first, chunk.size()) == 0) continue;
    if (!differs) {
      // Kept whole from the first difference on: the copies rarely differ,
      // and then the reconciliation needs random access to both.
      partition.fatSecond.assign(partition.fat.begin(), partition.fat.begin() + sectors * kSectorSize);
      differs = true;
    }
    std::memcpy(partition.fatSecond.data() + s * kSectorSize, chunk.data(), chunk.size());
  }
  if (!differs) return;
  partition.fatCopies.entries = CountDifferingFatEntries(partition.fat, partition.fatSecond, g.EntryBits());
  if (partition.fatCopies.entries == 0) {
    partition.fatSecond.clear();
    return;
  }
  LogLine(LogCode::kNotice, "FAT copies differ");
}

std::uint32_t DirectoryNextCluster(const PartitionInfo& partition, const FatGeometry& g, std::uint64_t cluster) {
  const FatEntries first(partition.fat, g);
  const std::uint32_t a = first.Next(cluster);
  if (partition.fatSecond.empty()) return a;
  const std::uint32_t b = FatEntries(partition.fatSecond, g).Next(cluster);
  const std::uint32_t mask = EntryMask(g.EntryBits());
  if (((a ^ b) & mask) == 0) return a;
  auto continues = [&](std::uint32_t v) { return g.InClusterRange(v & mask) || IsEnd(v, g.EntryBits()); };
  return !continues(a) && continues(b) ? b : a;
}

void ReconcileFatCopies(PartitionInfo& partition) {
  if (partition.fatSecond.empty() || partition.fat.empty()) return;
  auto g = FatGeometryOf(partition);
  if (!g || g->spc == 0) return;
  const unsigned bits = g->EntryBits();
  const std::uint64_t clusterBytes = std::uint64_t(g->spc) * kSectorSize;
  const FoundFileTable& table = partition.table;
  std::unordered_set<std::uint64_t> starts, claimed;
  std::vector<std::uint32_t> files;
  for (std::uint32_t id = 0; id < table.count; ++id) {
    const FoundFileNode* n = NodeAt(table, id);
    if (!n || !n->name || id == kRootId || id == kLostFolderId) continue;
    const NodeKind kind = KindOf(*n);
    if (kind != kPresentFile && kind != kPresentFolder) continue;
    const std::uint64_t first = n->firstCluster;
    if (!g->InClusterRange(first)) continue;
    starts.insert(first);
    if (kind == kPresentFile) {
      if (n->size > 0) files.push_back(id);
      continue;
    }
    // A live folder's chain, as the directory reader followed it.
    std::unordered_set<std::uint64_t> chain;
    for (std::uint64_t c = first; g->InClusterRange(c) && chain.size() < kMaxDirectoryChain && chain.insert(c).second;)
      c = DirectoryNextCluster(partition, *g, c) & EntryMask(bits);
    claimed.insert(chain.begin(), chain.end());
  }
  // The chains both copies agree on are settled first; they bound the
  // disputed ones.
  std::vector<std::pair<Chain, Chain>> disputed;
  const FatEntries one(partition.fat, *g), two(partition.fatSecond, *g);
  for (std::uint32_t id : files) {
    const FoundFileNode* n = NodeAt(table, id);
    const std::uint64_t wanted = (n->size + clusterBytes - 1) / clusterBytes;
    Chain a = WalkChain(one, *g, n->firstCluster, wanted);
    Chain b = WalkChain(two, *g, n->firstCluster, wanted);
    if (SameReading(a, b)) {
      if (a.fit >= 2) claimed.insert(a.clusters.begin(), a.clusters.end());
      continue;
    }
    disputed.emplace_back(std::move(a), std::move(b));
  }
  for (std::size_t i = 0; i < disputed.size(); ++i) {
    auto& [a, b] = disputed[i];
    const int fitA = Clashes(a, starts, claimed) ? 0 : a.fit;
    const int fitB = Clashes(b, starts, claimed) ? 0 : b.fit;
    const bool second = fitB > fitA;
    const Chain& chosen = second ? b : a;
    if (std::max(fitA, fitB) < 3) ++partition.fatCopies.chainsUnresolved;
    if (std::max(fitA, fitB) >= 2) claimed.insert(chosen.clusters.begin(), chosen.clusters.end());
    if (!second) continue;
    ++partition.fatCopies.chainsFromSecond;
    if (chosen.contiguous) {
      SetFatEntry(partition.fat, bits, chosen.clusters.front(), 0);
      continue;
    }
    for (std::size_t k = 0; k + 1 < chosen.clusters.size(); ++k)
      SetFatEntry(partition.fat, bits, chosen.clusters[k], static_cast<std::uint32_t>(chosen.clusters[k + 1]));
    if (!chosen.clusters.empty()) SetFatEntry(partition.fat, bits, chosen.clusters.back(), chosen.lastEntry);
  }
}

}  // namespace ambrel
