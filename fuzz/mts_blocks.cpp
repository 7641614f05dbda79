// Fuzzes the transport-stream block scanner and the chaining of the
// fragments it finds, over the input as a disk.
#include <cstddef>
#include <cstdint>

#include "video/mts_chain.h"
#include "video/mts_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  using namespace ambrel::video;
  MemoryByteSource source(ByteSpan(data, size), 0);
  MtsBlockScanner scanner(0);
  std::vector<MtsFragment> fragments;
  // Chunks of 64 KiB, as the scan hands them over.
  for (std::uint64_t at = 0; at < size; at += 0x10000) scanner.Advance(source, at + 0x10000, fragments);
  scanner.Finish(fragments);
  for (const MtsFragment& f : fragments) MtsFragment::Decode(f.Encode());
  ChainMts(fragments, source, RebuildHooks{});
  return 0;
}
