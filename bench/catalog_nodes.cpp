// Node-table figures: AddNode with linking, LinkAll + Compact with dead
// slots, and memory per node. Each figure is given with a baseline run in
// the same program: a std::vector of records with std::string names.
#include <malloc.h>

#include <array>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings.h"
#include "catalog/child_list.h"
#include "catalog/node_memory.h"
#include "catalog/node_table.h"
#include "diag/pool.h"

using namespace ambrel;

namespace {

constexpr std::uint32_t kNodes = 2000000;
constexpr std::uint32_t kFilesPerFolder = 100;

// Processor time of this (single-threaded) program: the machine the
// figures come from is shared, so wall time says little.
struct Clock {
  std::clock_t start = std::clock();
  double Seconds() const { return double(std::clock() - start) / CLOCKS_PER_SEC; }
};

// 16 characters, like "IMG_00012345.JPG", made before any timing.
std::vector<std::array<char, 17>>& Names() {
  static std::vector<std::array<char, 17>> names = [] {
    std::vector<std::array<char, 17>> v(kNodes);
    for (std::uint32_t i = 0; i < kNodes; ++i) std::snprintf(v[i].data(), 17, "IMG_%08u.JPG", i);
    return v;
  }();
  return names;
}
const char* NameOf(std::uint32_t i) { return Names()[i].data(); }

FoundFileNode Record(std::uint32_t id, std::uint32_t parent, bool folder, std::uint32_t i) {
  FoundFileNode n{};
  n.id = id;
  n.parentId = parent;
  n.size = i;
  n.dataSector = i * 8ull;
  SetKind(n, folder ? kPresentFolder : kPresentFile);
  return n;
}

// Fills a table the way a reader that links as it goes does: a folder
// every 100 nodes, files into the latest folder; the first 100 folders sit
// under the root, later ones under those (files at depth 2 and 3).
void Fill(FoundFileTable& t, std::uint32_t count, bool link) {
  InitTable(t);
  std::uint32_t folder = kRootId;
  std::vector<std::uint32_t> top;
  for (std::uint32_t i = 0; i < count; ++i) {
    const char* name = NameOf(i);
    const bool isFolder = i % kFilesPerFolder == 0;
    const std::uint32_t parent = !isFolder ? folder : top.size() < 100 ? kRootId : top[i / 100 % 100];
    const std::uint32_t id = AddNodeNamed(t, Record(0, parent, isFolder, i), name, link);
    if (isFolder) {
      folder = id;
      if (top.size() < 100) top.push_back(id);
    }
  }
}

double BaselineVector(std::uint32_t count) {
  struct Entry {
    FoundFileNode node;
    std::string name;
  };
  const Clock clock;
  std::vector<Entry> v;
  for (std::uint32_t i = 0; i < count; ++i) v.push_back({Record(i + 6, 5, false, i), NameOf(i)});
  const double s = clock.Seconds();
  std::printf("  (baseline kept %zu entries)\n", v.size());
  return s;
}

std::uint64_t HeapInUse() {
  const struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

void MeasureAdd() {
  std::printf("AddNode with linking, %u nodes (16-character names)\n", kNodes);
  const double base = BaselineVector(kNodes);
  FoundFileTable t;
  const Clock clock;
  Fill(t, kNodes, true);
  const double s = clock.Seconds();
  std::printf("  AddNodeNamed+link: %.3f s CPU = %.1f M nodes/s; baseline vector+string: %.3f s "
              "(%.1f M/s); ratio %.2fx the baseline's time\n",
              s, kNodes / s / 1e6, base, kNodes / base / 1e6, s / base);
  std::printf("  table: count %u, capacity %u, files linked %u\n", t.count, t.capacity, t.fileCount);

  // AddNode with a heap name from CopyNodeName (the compatible path).
  FoundFileTable h;
  InitTable(h);
  const Clock hclock;
  for (std::uint32_t i = 0; i < kNodes; ++i) {
    FoundFileNode n = Record(0, kRootId, false, i);
    n.name = CopyNodeName(NameOf(i));
    AddNode(h, n, true);
  }
  const double hsec = hclock.Seconds();
  std::printf("  AddNode (heap name moved into the arena)+link: %.3f s = %.1f M nodes/s\n", hsec,
              kNodes / hsec / 1e6);
}

void MeasureMemory(bool linkAfter) {
  FlushNodeArrays();
  const std::uint64_t heapBefore = HeapInUse();
  const std::uint64_t poolBefore = PoolTotal();
  {
    FoundFileTable t;
    Fill(t, kNodes, !linkAfter);
    if (linkAfter) {
      LinkAll(t);
      Compact(t);
    }
    FlushNodeArrays();
    const std::uint64_t heap = HeapInUse() - heapBefore;
    const std::uint64_t pool = PoolTotal() - poolBefore;
    std::uint64_t lists = 0;
    for (std::uint32_t i = 0; i < t.count; ++i)
      if (const FoundFileNode* n = NodeAt(t, i)) lists += std::uint64_t(n->childCapacity) * 4;
    const std::uint64_t accounted =
        std::uint64_t(t.capacity) * sizeof(FoundFileNode) + t.names.BytesReserved() + lists;
    std::printf("Memory per node, %u nodes with 16-character names, a folder per 100 nodes, %s\n",
                kNodes, linkAfter ? "added unlinked, then LinkAll + Compact (the readers' way)"
                                  : "linked as added");
    std::printf("  record %zu B; array %.1f B/node (capacity %u), names %.1f B/node, child lists "
                "%.1f B/node\n",
                sizeof(FoundFileNode), double(t.capacity) * sizeof(FoundFileNode) / t.count,
                t.capacity, double(t.names.BytesReserved()) / t.count, double(lists) / t.count);
    std::printf("  accounted %.1f B/node; measured (heap in use, incl. pool %llu B) %.1f B/node\n",
                double(accounted) / t.count, static_cast<unsigned long long>(pool),
                double(heap) / t.count);
    const std::uint64_t b0 = HeapInUse();
    struct Entry {
      FoundFileNode node;
      std::string name;
    };
    if (!linkAfter) return;
    std::vector<Entry> v;
    v.reserve(kNodes);
    for (std::uint32_t i = 0; i < kNodes; ++i) v.push_back({Record(i, 5, false, i), NameOf(i)});
    std::printf("  baseline (exact-size vector of record + std::string): %.1f B/node\n",
                double(HeapInUse() - b0) / kNodes);
  }
}

void MeasureLinkCompact() {
  FoundFileTable t;
  Fill(t, kNodes, false);
  // 30 % dead slots, spread evenly (files only, so no folder loses its
  // place and links stay meaningful).
  std::uint32_t dead = 0;
  for (std::uint32_t id = 6; id < t.count; ++id) {
    if (id % 10 < 3 && !IsFolderNode(t, id)) {
      RemoveNode(t, id);
      ++dead;
    }
  }
  const std::uint32_t countBefore = t.count;
  const Clock linkClock;
  LinkAll(t);
  const double link = linkClock.Seconds();
  const Clock compactClock;
  Compact(t);
  const double compact = compactClock.Seconds();
  // Baseline: one pass copying every live record down (what the move
  // itself costs, without link upkeep).
  std::vector<FoundFileNode> copy(countBefore);
  const Clock baseClock;
  std::uint32_t w = 0;
  for (std::uint32_t i = 0; i < t.count; ++i)
    std::memcpy(static_cast<void*>(&copy[w++]), &t.nodes.load()[i], sizeof(FoundFileNode));
  const double base = baseClock.Seconds();
  std::printf("LinkAll + Compact, %u slots with %u dead (%.0f %%)\n", countBefore, dead,
              100.0 * dead / countBefore);
  std::printf("  LinkAll %.3f s, Compact %.3f s (count %u -> %u); baseline record copy %.3f s; "
              "ratio %.1fx\n",
              link, compact, countBefore, t.count, base, (link + compact) / base);
}

}  // namespace

int main() {
  Names();
  Settings().Set("Default-ShowAllFile:", "1");
  SetSettingsLoaded(true);
  MeasureAdd();
  MeasureLinkCompact();
  MeasureMemory(false);
  MeasureMemory(true);
  return 0;
}
