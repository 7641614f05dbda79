#include "deepscan/carve/carve_window.h"

#include <algorithm>
#include <cstring>

namespace ambrel {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kBlockBytes = 0x100000;

// Copies [first, end) from the disk; the sectors that hold it are read
// whole and the edges trimmed.
bool ReadBytesFromDisk(const CarveInput& in, std::uint64_t first, std::uint64_t end,
                       std::uint8_t* out) {
  if (!in.disk || end <= first) return false;
  const std::uint64_t lba = first / kSector;
  const std::uint64_t sectors = (end + kSector - 1) / kSector - lba;
  if (sectors > kMaxWindowBytes / kSector + 2) return false;
  // Whole sectors go straight into place; only ragged edges need a copy.
  if (first % kSector == 0 && end % kSector == 0)
    return in.disk->ReadDisk(lba, static_cast<std::uint32_t>(sectors), out);
  std::vector<std::uint8_t> sectorBytes(sectors * kSector);
  if (!in.disk->ReadDisk(lba, static_cast<std::uint32_t>(sectors), sectorBytes.data())) return false;
  std::memcpy(out, sectorBytes.data() + (first - lba * kSector), end - first);
  return true;
}

void SetPendingWindow(CarveState& state) {
  state.windowFirst = state.fileLba + state.offset / kSector;
  state.windowLast = state.fileLba + (state.offset + state.need) / kSector;
}

}  // namespace

std::uint64_t CarveInput::AreaEndByte() const {
  constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max() / kSector;
  return areaEndLba >= kTop ? kTop * kSector : areaEndLba * kSector;
}

WindowRead ReadWindow(CarveState& state, const CarveInput& in, std::vector<std::uint8_t>& out) {
  // The buffer keeps its bytes between windows (resizing does not clear
  // what it already holds): every byte of the window is written below.
  const std::uint64_t first = state.fileLba * kSector + state.offset;
  const std::uint64_t areaEnd = in.AreaEndByte();
  if (state.offset >= areaEnd || first >= areaEnd) {
    out.clear();
    return WindowRead::kPastArea;
  }
  const std::uint64_t end = std::min(first + state.need, areaEnd);
  const std::uint64_t chunkStart = in.chunk.firstLba * kSector;
  const std::uint64_t chunkEnd = in.ChunkEndByte();
  if (end > chunkEnd && (first >= chunkEnd || state.need > kDiskReadWindowLimit)) {
    out.clear();
    SetPendingWindow(state);
    return WindowRead::kPending;
  }
  out.resize(end - first);
  // The part inside the chunk is copied; what lies before or after it is
  // read from the disk.
  bool ok = true;
  const std::uint64_t beforeEnd = std::min(end, chunkStart);
  if (first < beforeEnd) ok = ReadBytesFromDisk(in, first, beforeEnd, out.data());
  const std::uint64_t inFirst = std::max(first, chunkStart);
  const std::uint64_t inEnd = std::min(end, chunkEnd);
  if (inFirst < inEnd)
    std::memcpy(out.data() + (inFirst - first), in.chunk.bytes.data() + (inFirst - chunkStart),
                inEnd - inFirst);
  const std::uint64_t afterFirst = std::max(first, chunkEnd);
  if (ok && afterFirst < end) ok = ReadBytesFromDisk(in, afterFirst, end, out.data() + (afterFirst - first));
  if (!ok) {
    out.clear();
    SetPendingWindow(state);
    return WindowRead::kPending;
  }
  return WindowRead::kReady;
}

WindowRead ReadWindowCursor(CarveState& state, const CarveInput& in, ByteCursor& out) {
  // A window inside the chunk is looked at where it lies: the growing
  // windows of photos and documents reach the chunk's end, and copying
  // them for every hit would cost more than the whole scan.
  const std::uint64_t first = state.fileLba * kSector + state.offset;
  const std::uint64_t end = std::min(first + state.need, in.AreaEndByte());
  const std::uint64_t chunkStart = in.chunk.firstLba * kSector;
  if (state.offset < in.AreaEndByte() && first < end && first >= chunkStart && end <= in.ChunkEndByte()) {
    out = ByteCursor(in.chunk.bytes.data() + (first - chunkStart), static_cast<std::size_t>(end - first));
    return WindowRead::kReady;
  }
  const WindowRead r = ReadWindow(state, in, *in.scratch);
  out = ByteCursor(in.scratch->data(), in.scratch->size());
  return r;
}

bool DeviceCarveSource::LoadBlock(std::uint64_t blockByte) {
  if (blockByte == blockByte_) return true;
  const std::uint64_t end = std::min(blockByte + kBlockBytes, in_.AreaEndByte());
  if (end <= blockByte) return false;
  block_.resize(end - blockByte);
  if (!ReadBytesFromDisk(in_, blockByte, end, block_.data())) {
    blockByte_ = ~std::uint64_t{0};
    return false;
  }
  blockByte_ = blockByte;
  return true;
}

std::size_t DeviceCarveSource::ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t length) {
  std::size_t done = 0;
  const std::uint64_t chunkStart = in_.chunk.firstLba * kSector;
  const std::uint64_t chunkEnd = in_.ChunkEndByte();
  const std::uint64_t areaEnd = in_.AreaEndByte();
  while (done < length) {
    const std::uint64_t at = fileByte_ + offset + done;
    if (at >= areaEnd || at < fileByte_) break;
    std::size_t n = 0;
    if (at >= chunkStart && at < chunkEnd) {
      n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, chunkEnd - at));
      std::memcpy(out + done, in_.chunk.bytes.data() + (at - chunkStart), n);
    } else {
      const std::uint64_t blockByte = at - at % kBlockBytes;
      if (!LoadBlock(blockByte)) break;
      const std::uint64_t into = at - blockByte;
      if (into >= block_.size()) break;
      n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, block_.size() - into));
      std::memcpy(out + done, block_.data() + into, n);
    }
    done += n;
  }
  return done;
}

}  // namespace ambrel
