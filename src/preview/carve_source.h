// The bytes of a candidate file as the carver sees them: reads at an offset
// from the file's first byte (the signature hit). The deep scan supplies a
// reader over the device; tests and the preview supply a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel {

class CarveSource {
 public:
  virtual ~CarveSource() = default;
  // Copies up to `length` bytes from `offset` into `out`; returns how many
  // were copied (fewer at the end of what can be read, 0 past it).
  virtual std::size_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t length) = 0;

  // Up to `length` bytes from `offset` into a fresh buffer, grown 1 MiB at
  // a time so that a short file does not cost the whole window.
  std::vector<std::uint8_t> Read(std::uint64_t offset, std::size_t length);
};

// A candidate file that is already in memory.
class BufferCarveSource final : public CarveSource {
 public:
  explicit BufferCarveSource(ByteSpan bytes) : bytes_(bytes) {}
  std::size_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t length) override;

 private:
  ByteSpan bytes_;
};

}  // namespace ambrel
