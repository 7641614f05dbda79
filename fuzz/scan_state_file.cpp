// Fuzz target: the scan-state file loader. The first byte picks the chunk
// count the file must match; the rest is the file. A decoded file is
// encoded again and must decode to the same number of hits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "deepscan/scan_state_file.h"

using namespace ambrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint64_t chunks = data[0] % 8;
  const ByteSpan file(data + 1, size - 1);
  (void)NamesDisk(file, u"/dev/sda");
  auto saved = DecodeScanState(file, chunks);
  if (!saved) return 0;
  auto again = EncodeScanState(saved->diskName, saved->chunkMap, saved->cursor, saved->rangeFirst,
                               saved->rangeLast, [&](const std::function<void(const ScanHit&)>& fn) {
                                 for (const ScanHit& h : saved->hits) fn(h);
                               });
  auto second = DecodeScanState(again, chunks);
  std::size_t live = 0;
  for (const ScanHit& h : saved->hits) live += h.kind != kHitDead;
  if (!second || second->hits.size() != live) std::abort();
  return 0;
}
