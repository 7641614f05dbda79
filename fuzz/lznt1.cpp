// Fuzz target: LZNT1 decompression of one compression unit into an output
// buffer of the unit's size (the first byte picks the size: 1 to 16
// chunks), in buffers of exactly their own size so any overrun is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fs/ntfs/lznt1.h"

using namespace ambrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t outBytes = ((data[0] & 15) + 1) * kLznt1ChunkBytes - (data[0] >> 4);
  std::vector<std::uint8_t> in(data + 1, data + size);
  std::vector<std::uint8_t> out(outBytes);
  auto produced = Lznt1Decompress(in, out);
  if (produced && *produced > out.size()) std::abort();
  return 0;
}
