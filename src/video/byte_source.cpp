#include "video/byte_source.h"

#include <algorithm>
#include <cstring>

namespace ambrel::video {
namespace {

constexpr std::uint64_t kBlockBytes = 0x4000;

}  // namespace

bool MemoryByteSource::ReadAt(std::uint64_t position, std::uint8_t* out, std::size_t length) {
  if (position < base_) return false;
  const ByteCursor bytes(bytes_);
  auto piece = bytes.Sub(position - base_, length);
  if (!piece) return false;
  if (length) std::memcpy(out, piece->data(), length);
  return true;
}

SectorByteSource::SectorByteSource(ReadSectorsFn read, std::uint64_t endByte, std::size_t cachedBlocks)
    : read_(std::move(read)), end_(endByte), capacity_(std::max<std::size_t>(cachedBlocks, 1)) {}

const SectorByteSource::Block& SectorByteSource::BlockAt(std::uint64_t first) {
  if (auto hit = where_.find(first); hit != where_.end()) {
    if (hit->second != blocks_.begin()) blocks_.splice(blocks_.begin(), blocks_, hit->second);
    return blocks_.front();
  }
  Block block;
  if (blocks_.size() >= capacity_) {
    block = std::move(blocks_.back());
    where_.erase(block.first);
    blocks_.pop_back();
  }
  if (!block.bytes) block.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes);
  block.first = first;
  block.size = static_cast<std::size_t>(std::min(kBlockBytes, end_ - first));
  block.ok = read_(first / 512, static_cast<std::uint32_t>((block.size + 511) / 512), block.bytes.get());
  blocks_.push_front(std::move(block));
  where_[first] = blocks_.begin();
  return blocks_.front();
}

bool SectorByteSource::ReadAt(std::uint64_t position, std::uint8_t* out, std::size_t length) {
  if (position > end_ || length > end_ - position) return false;
  while (length > 0) {
    const std::uint64_t first = position / kBlockBytes * kBlockBytes;
    const Block& block = BlockAt(first);
    if (!block.ok) return false;
    const std::size_t at = static_cast<std::size_t>(position - first);
    const std::size_t take = std::min<std::size_t>(length, block.size - at);
    if (take == 0) return false;
    std::memcpy(out, block.bytes.get() + at, take);
    out += take;
    position += take;
    length -= take;
  }
  return true;
}

bool ChunkByteSource::ReadAt(std::uint64_t position, std::uint8_t* out, std::size_t length) {
  const std::uint64_t end = base_ + chunk_.size();
  if (position >= base_ && position <= end && length <= end - position) {
    if (length) std::memcpy(out, chunk_.data() + (position - base_), length);
    return true;
  }
  return rest_ && rest_->ReadAt(position, out, length);
}

std::optional<std::uint32_t> WordAt(ByteSource& source, std::uint64_t position) {
  std::uint8_t b[4];
  if (!source.ReadAt(position, b, 4)) return std::nullopt;
  return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | b[3];
}

}  // namespace ambrel::video
