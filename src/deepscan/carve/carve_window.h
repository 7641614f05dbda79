// Reading the bytes a size rule wants: from the chunk in hand, from the
// disk for a window that starts here and runs into the next chunk (or for
// the earlier part of a window that grew over several chunks), or later,
// when a chunk that holds them arrives.
#pragma once

#include <cstdint>
#include <vector>

#include "common/byte_cursor.h"
#include "deepscan/carve/carve_state.h"
#include "preview/carve_source.h"

namespace ambrel {

// Windows up to this size that run past the chunk are read from the disk
// at once; larger ones (the growing windows) wait for their last chunk.
inline constexpr std::uint32_t kDiskReadWindowLimit = 0x10000;
// The largest window a rule may ask for (0x1C000 sectors).
inline constexpr std::uint32_t kMaxWindowBytes = 0x1C000 * 512;

// Fills `out` with `state.need` bytes at `state.offset` of the file (fewer
// when the scanned area ends first): kReady; kPending with `windowFirst` /
// `windowLast` set when the bytes are not read yet; kPastArea when the
// window starts past the scanned area.
WindowRead ReadWindow(CarveState& state, const CarveInput& in, std::vector<std::uint8_t>& out);

// The window of the rule as a cursor (ReadWindow into the input's scratch).
WindowRead ReadWindowCursor(CarveState& state, const CarveInput& in, ByteCursor& out);

// A candidate file read through the chunk and the disk, for the probes that
// walk a file in one go (MP3). Reads stop at the scanned area's end; disk
// reads go through a 1 MiB block cache.
class DeviceCarveSource final : public CarveSource {
 public:
  DeviceCarveSource(const CarveInput& in, std::uint64_t fileLba) : in_(in), fileByte_(fileLba * 512) {}
  std::size_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t length) override;

 private:
  bool LoadBlock(std::uint64_t blockByte);

  const CarveInput& in_;
  std::uint64_t fileByte_;
  std::vector<std::uint8_t> block_;
  std::uint64_t blockByte_ = ~std::uint64_t{0};
};

}  // namespace ambrel
