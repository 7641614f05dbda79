// Fuzzes the TIFF directory walk of the camera raw size probe.
#include <cstddef>
#include <cstdint>

#include "preview/tiff_raw_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  BufferCarveSource source(ByteSpan(data, size));
  ProbeTiffRaw(source);
  MeasureTiff(ByteSpan(data, size));
  return 0;
}
