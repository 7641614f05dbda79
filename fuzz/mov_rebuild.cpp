// Fuzzes the rebuild of QuickTime recordings: the input is a disk; what a
// scan records of it (atoms, candidate lists) is laid over it, moovs are
// paired and their pieces placed and checked.
#include <cstddef>
#include <cstdint>

#include "video/mov_rebuild.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  using namespace ambrel::video;
  MemoryByteSource disk(ByteSpan(data, size), 0);
  MovChunkScanner scanner;
  ChunkFinds f;
  CandidateSwitches on;
  on.size = on.startCode = on.length2 = on.length20 = true;
  scanner.Scan(ByteSpan(data, size), 0, on, &disk, f);
  MovScanFinds finds;
  for (const AtomFind& a : f.atoms) {
    if (a.kind == AtomKind::kFtyp) finds.ftyps.push_back({a.offset, static_cast<std::uint32_t>(a.size)});
    if (a.kind == AtomKind::kMdat) finds.mdats.push_back({a.offset, a.size});
    if (a.kind != AtomKind::kMoov || a.offset + a.size > size) continue;
    const ByteSpan bytes(data + a.offset, static_cast<std::size_t>(a.size));
    if (auto info = WalkMoov(bytes)) {
      MoovRecord m;
      m.position = a.offset;
      m.info = std::move(*info);
      m.head.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() < 64 ? bytes.size() : 64));
      finds.moovs.push_back(std::move(m));
    }
  }
  for (std::size_t l = 0; l < kCandidateLists; ++l)
    for (std::uint32_t o : f.candidates[l]) {
      finds.lists[l].push_back(o);
      if (l == static_cast<std::size_t>(CandidateList::kNalStart) && o + 4 <= size)
        finds.nalIndex.Add(o, (std::uint32_t(data[o]) << 24) | (std::uint32_t(data[o + 1]) << 16) |
                                  (std::uint32_t(data[o + 2]) << 8) | data[o + 3]);
    }
  finds.Finish();
  RebuildMov(finds, disk, MovRebuildSettings{}, RebuildHooks{});
  return 0;
}
