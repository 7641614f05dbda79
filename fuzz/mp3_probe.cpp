// Fuzzes the MP3 size probe: ID3v2, APE and ID3v1 tags and frame headers.
#include <cstddef>
#include <cstdint>

#include "preview/mp3_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  BufferCarveSource source(ByteSpan(data, size));
  ProbeMp3(source);
  return 0;
}
