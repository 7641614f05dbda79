// Fuzz target: the scan-state file loader. The first byte picks the chunk
// count the file must match (low three bits) and whether the checksums of
// the file are put right before it is read (bit 3), so that the block and
// record parsers behind them are reached as well as the checks themselves.
// The rest is the file. A decoded file is encoded again and must decode to
// the same hits; a file that passes the whole-file check but is refused
// must name a reason.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "deepscan/scan_state_file.h"

using namespace ambrel;

namespace {

std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

std::uint32_t Crc(const std::uint8_t* p, std::size_t n) {
  return static_cast<std::uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

// Writes the block checksums where whole blocks lie, then the file's.
void Seal(std::vector<std::uint8_t>& b) {
  if (b.size() < 12) return;
  const std::size_t end = b.size() - 4;
  std::size_t at = 4;
  auto skip = [&](std::size_t n) { return at + n <= end ? (at += n, true) : false; };
  if (at + 4 > end) return;
  const std::size_t name = Get32(b, at);
  if (!skip(4) || name > 4096 || !skip(name) || at + 4 > end) return;
  const std::size_t map = Get32(b, at);
  if (!skip(4) || map > end || !skip(map) || !skip(24) || !skip(4)) {
    Put32(b, end, Crc(b.data(), end));
    return;
  }
  while (at + 12 <= end) {
    const std::size_t bytes = Get32(b, at + 4);
    if (bytes > end || at + 12 + bytes > end) break;
    Put32(b, at + 8 + bytes, Crc(b.data() + at, 8 + bytes));
    at += 12 + bytes;
  }
  Put32(b, end, Crc(b.data(), end));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint64_t chunks = data[0] % 8;
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if (data[0] & 0x08) Seal(bytes);
  const ByteSpan file(bytes.data(), bytes.size());
  (void)NamesDisk(file, u"/dev/sda");
  const ScanStateFault whole = CheckScanStateFile(file);
  ScanStateFault fault = ScanStateFault::kNone;
  auto saved = DecodeScanState(file, chunks, nullptr, &fault);
  if (!saved) {
    if (fault == ScanStateFault::kNone) std::abort();
    if (whole != ScanStateFault::kNone && fault != whole) std::abort();
    return 0;
  }
  if (whole != ScanStateFault::kNone) std::abort();
  auto again = EncodeScanState(saved->diskName, saved->chunkMap, saved->cursor, saved->rangeFirst,
                               saved->rangeLast, [&](const std::function<void(const ScanHit&)>& fn) {
                                 for (const ScanHit& h : saved->hits) fn(h);
                               });
  if (CheckScanStateFile(again) != ScanStateFault::kNone) std::abort();
  auto second = DecodeScanState(again, chunks);
  std::size_t live = 0;
  for (const ScanHit& h : saved->hits) live += h.kind != kHitDead;
  if (!second || second->hits.size() != live || second->format != ScanStateFormat::kChecked) std::abort();
  return 0;
}
