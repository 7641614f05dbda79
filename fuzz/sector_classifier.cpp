// Fuzz target: the sector classifier and the payloads of its hits over a
// small chunk: every sector is classified and turned into a hit, so the
// FILE-record summary, the INDX walk (which may run to the chunk's end) and
// the GPT entry array all see arbitrary bytes. The chunk buffer has exactly
// the input's size so that any read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "deepscan/record_payloads.h"
#include "deepscan/sector_classifier.h"
#include "deepscan/sector_hit.h"

using namespace ambrel;

namespace {

class InputSource final : public SectorHitSource {
 public:
  explicit InputSource(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  bool ReadDisk(std::uint64_t lba, std::uint32_t count, std::uint8_t* out) override {
    if (lba >= bytes_.size() / 512 || count > bytes_.size() / 512 - lba) return false;
    std::memcpy(out, bytes_.data() + lba * 512, count * 512ull);
    return true;
  }
  void PushHint(std::uint64_t) override {}

 private:
  const std::vector<std::uint8_t>& bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the chunk's first LBA (0, 1 or elsewhere) so that
  // the MBR and GPT rules run as well.
  const std::uint64_t first = data[0] % 3 == 2 ? 5000 : data[0] % 3;
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if (bytes.size() >= 1024) (void)SummariseFileRecord(bytes);
  (void)IndexedDirectoryOf(bytes);
  (void)GptEntryStarts(bytes);
  InputSource source(bytes);
  ChunkData chunk{bytes, first};
  ChunkHitBuilder builder;
  for (std::uint32_t i = 0; i < bytes.size() / 512; ++i) {
    std::uint8_t kind = 0;
    if (ClassifySector(ByteSpan(bytes).subspan(i * 512ull, 512), first + i, kind))
      (void)MakeSectorHit(chunk, i, first + i, kind, source, builder);
  }
  return 0;
}
