#include "preview/carve_source.h"

#include <algorithm>
#include <cstring>

namespace ambrel {

std::vector<std::uint8_t> CarveSource::Read(std::uint64_t offset, std::size_t length) {
  constexpr std::size_t kStep = 0x100000;
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < length) {
    const std::size_t have = bytes.size();
    const std::size_t want = std::min(kStep, length - have);
    bytes.resize(have + want);
    const std::size_t got = ReadAt(offset + have, bytes.data() + have, want);
    bytes.resize(have + std::min(got, want));
    if (got < want) break;
  }
  return bytes;
}

std::size_t BufferCarveSource::ReadAt(std::uint64_t offset, std::uint8_t* out,
                                      std::size_t length) {
  if (offset >= bytes_.size()) return 0;
  const std::size_t n = std::min<std::uint64_t>(length, bytes_.size() - offset);
  if (n) std::memcpy(out, bytes_.data() + offset, n);
  return n;
}

}  // namespace ambrel
