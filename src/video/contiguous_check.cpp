#include "video/contiguous_check.h"

#include <vector>

#include "video/atoms.h"

namespace ambrel::video {

bool SamplesHoldContiguously(FileReader& file, std::uint64_t size) {
  std::uint64_t at = 0;
  std::vector<std::uint8_t> moov;
  for (int atoms = 0; atoms < 64 && at + 8 <= size; ++atoms) {
    std::uint8_t head[16] = {};
    if (!file.Read(at, head, size - at >= 16 ? 16 : 8)) return true;
    auto h = ReadAtomHeader(ByteCursor(head, sizeof(head)), 0);
    if (!h || h->size < h->headerBytes || h->size > size - at) return true;
    if (h->type == FourCc("moov")) {
      if (h->size >= kMaxMoovBytes) return true;
      moov.resize(static_cast<std::size_t>(h->size));
      if (!file.Read(at, moov.data(), moov.size())) return true;
      break;
    }
    at += h->size;
  }
  if (moov.empty()) return true;
  const auto info = WalkMoov(moov);
  if (!info || info->videoTrack < 0) return true;
  const TrackSamples& video = info->tracks[static_cast<std::size_t>(info->videoTrack)];
  const std::size_t n = video.offsets.size();
  if (n == 0 || video.format == SampleFormat::kUnknown) return true;
  const std::size_t probes = n < kContiguityProbes ? n : kContiguityProbes;
  for (std::size_t k = 0; k < probes; ++k) {
    const std::size_t i = probes == 1 ? 0 : k * (n - 1) / (probes - 1);
    if (video.offsets[i] > size || video.sizes[i] > size - video.offsets[i]) return false;
    const SampleCheck c = CheckSample(file, video.offsets[i], video.sizes[i], video.format, video.nalLengthBytes);
    if (c.checkable && !c.ok) return false;
  }
  return true;
}

}  // namespace ambrel::video
