// Fuzzes the RAR 1.5-4.x and RAR 5 block walks of the rar listing.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "preview/archive_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  ListRar(ByteSpan(data, size));
  // The same bytes behind a RAR 5 signature reach the other walk.
  std::vector<std::uint8_t> rar5 = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
  rar5.insert(rar5.end(), data, data + size);
  ListRar(ByteSpan(rar5.data(), rar5.size()));
  return 0;
}
