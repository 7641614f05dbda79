// Random access to the scanned disk by absolute byte position, for the
// decoders that look beyond the chunk in hand (a moov or a block that runs
// into the next chunk, the sample checks after the scan).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <unordered_map>
#include <optional>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel::video {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Copies `length` bytes at absolute byte `position`; false when any of
  // them lies outside the source or cannot be read (`out` is then
  // unspecified).
  virtual bool ReadAt(std::uint64_t position, std::uint8_t* out, std::size_t length) = 0;
  // The first byte position past the source.
  virtual std::uint64_t End() const = 0;
};

// Bytes in memory, the first of which sits at absolute position `base`.
class MemoryByteSource final : public ByteSource {
 public:
  MemoryByteSource(ByteSpan bytes, std::uint64_t base = 0) : bytes_(bytes), base_(base) {}
  bool ReadAt(std::uint64_t position, std::uint8_t* out, std::size_t length) override;
  std::uint64_t End() const override { return base_ + bytes_.size(); }

 private:
  ByteSpan bytes_;
  std::uint64_t base_;
};

// Reads whole sectors through `readSectors` (absolute LBA, count, out),
// keeping the last few 16 KiB blocks: the checks after the scan look at
// many small pieces, mostly in increasing order.
class SectorByteSource final : public ByteSource {
 public:
  using ReadSectorsFn = std::function<bool(std::uint64_t lba, std::uint32_t count, std::uint8_t* out)>;
  SectorByteSource(ReadSectorsFn read, std::uint64_t endByte, std::size_t cachedBlocks = 64);
  bool ReadAt(std::uint64_t position, std::uint8_t* out, std::size_t length) override;
  std::uint64_t End() const override { return end_; }

 private:
  struct Block {
    std::uint64_t first = 0;  // byte position of the block
    bool ok = false;
    std::size_t size = 0;
    std::unique_ptr<std::uint8_t[]> bytes;  // not cleared: the read fills it
  };
  const Block& BlockAt(std::uint64_t first);

  ReadSectorsFn read_;
  std::uint64_t end_;
  std::size_t capacity_;
  std::list<Block> blocks_;  // most recently used first
  std::unordered_map<std::uint64_t, std::list<Block>::iterator> where_;
};

// A chunk in memory in front of the disk behind it: reads inside the chunk
// are served from it, the rest from `rest` (which may be null).
class ChunkByteSource final : public ByteSource {
 public:
  ChunkByteSource(ByteSpan chunk, std::uint64_t chunkByte, ByteSource* rest)
      : chunk_(chunk), base_(chunkByte), rest_(rest) {}
  bool ReadAt(std::uint64_t position, std::uint8_t* out, std::size_t length) override;
  std::uint64_t End() const override { return rest_ ? rest_->End() : base_ + chunk_.size(); }

 private:
  ByteSpan chunk_;
  std::uint64_t base_;
  ByteSource* rest_;
};

// Big-endian 32-bit word at `position`, or nothing.
std::optional<std::uint32_t> WordAt(ByteSource& source, std::uint64_t position);

}  // namespace ambrel::video
