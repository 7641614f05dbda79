// Fuzzes the moov walk, and the sample checks and candidate scan over the
// same bytes: the input is a moov atom (the first bytes) followed by the
// bytes its tables point into.
#include <cstddef>
#include <cstdint>

#include "video/atoms.h"
#include "video/mov_chunk_scan.h"
#include "video/sample_checks.h"

namespace {

class InputReader final : public ambrel::video::FileReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Read(std::uint64_t at, std::uint8_t* out, std::size_t n) override {
    if (at > size_ || n > size_ - at) return false;
    for (std::size_t i = 0; i < n; ++i) out[i] = data_[at + i];
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  using namespace ambrel::video;
  auto info = WalkMoov(ByteSpan(data, size));
  if (info) {
    InputReader reader(data, size);
    for (const TrackSamples& t : info->tracks) {
      // Offsets and sizes come from the input: the checks must stay in bounds.
      for (std::size_t i = 0; i < t.offsets.size() && i < 64; ++i)
        CheckSample(reader, t.offsets[i], t.sizes[i], t.format, t.nalLengthBytes);
    }
  }
  MovChunkScanner scanner;
  ChunkFinds finds;
  CandidateSwitches on;
  on.size = on.startCode = on.length2 = on.length20 = true;
  on.padded = size % 2 == 1;
  MemoryByteSource rest(ByteSpan(data, size), 0);
  scanner.Scan(ByteSpan(data, size), 0, on, &rest, finds);
  return 0;
}
