#include "video/sample_checks.h"

#include <algorithm>

namespace ambrel::video {
namespace {

// AC-3 frame sizes in 16-bit words by frame size code, for 48, 44.1 and 32 kHz.
constexpr std::uint16_t kAc3Words[3][38] = {
    {64, 64, 80, 80, 96, 96, 112, 112, 128, 128, 160, 160, 192, 192, 224, 224, 256, 256, 320,
     320, 384, 384, 448, 448, 512, 512, 640, 640, 768, 768, 896, 896, 1024, 1024, 1152, 1152, 1280, 1280},
    {69, 70, 87, 88, 104, 105, 121, 122, 139, 140, 174, 175, 208, 209, 243, 244, 278, 279, 348,
     349, 417, 418, 487, 488, 557, 558, 696, 697, 835, 836, 975, 976, 1114, 1115, 1253, 1254, 1393, 1394},
    {96, 96, 120, 120, 144, 144, 168, 168, 192, 192, 240, 240, 288, 288, 336, 336, 384, 384, 480,
     480, 576, 576, 672, 672, 768, 768, 960, 960, 1152, 1152, 1344, 1344, 1536, 1536, 1728, 1728, 1920, 1920}};

// MPEG audio bit rates (kbit/s) by version group and layer, and sample rates.
constexpr std::uint16_t kMpeg1Rates[3][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
constexpr std::uint16_t kMpeg2Rates[2][16] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
constexpr std::uint32_t kMpegSampleRates[3] = {44100, 48000, 32000};

std::uint32_t ReadLength(const std::uint8_t* p, unsigned width) {
  std::uint32_t v = 0;
  for (unsigned i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

SampleCheck NalChain(FileReader& file, std::uint64_t offset, std::uint32_t size, bool hevc, unsigned width) {
  SampleCheck c;
  c.checkable = true;
  std::uint64_t pos = 0;
  std::uint8_t head[6];
  while (pos < size) {
    const unsigned need = width + (hevc ? 2 : 1);
    if (size - pos < need || !file.Read(offset + pos, head, need)) return c;
    c.lastByte = static_cast<std::uint32_t>(pos + need - 1);
    const std::uint32_t length = ReadLength(head, width);
    if (length == 0 || length > size - pos - width) return c;
    if (hevc ? !HevcNalHeaderOk(head[width], head[width + 1]) : !AvcNalHeaderOk(head[width])) return c;
    pos += width + std::uint64_t{length};
  }
  c.ok = pos == size;
  return c;
}

SampleCheck AudioHeader(FileReader& file, std::uint64_t offset, std::uint32_t size, SampleFormat format) {
  SampleCheck c;
  c.checkable = true;
  std::uint8_t b[8] = {};
  const std::size_t need = std::min<std::size_t>(8, size);
  if (need == 0 || !file.Read(offset, b, need)) return c;
  c.lastByte = static_cast<std::uint32_t>(need - 1);
  switch (format) {
    case SampleFormat::kAac:
      if (need >= 7 && AdtsFrameBytes(b) != 0) c.ok = AdtsFrameBytes(b) == size;
      else c.ok = RawAacStart(b[0]);
      break;
    case SampleFormat::kMp3: {
      const std::uint32_t bytes = need >= 4 ? MpegAudioFrameBytes(b) : 0;
      // A frame may carry one padding byte more or less than the table says.
      c.ok = bytes != 0 && bytes + 1 >= size && bytes <= size + 1;
      break;
    }
    case SampleFormat::kAc3:
      c.ok = need >= 5 && Ac3FrameBytes(b) == size;
      break;
    case SampleFormat::kEac3: {
      // One or more sync frames that fill the sample.
      std::uint64_t pos = 0;
      while (pos < size) {
        if (size - pos < 4 || !file.Read(offset + pos, b, 4)) return c;
        c.lastByte = static_cast<std::uint32_t>(pos + 3);
        const std::uint32_t bytes = Eac3FrameBytes(b);
        if (bytes == 0) return c;
        pos += bytes;
      }
      c.ok = pos == size;
      break;
    }
    default:
      break;
  }
  return c;
}

}  // namespace

bool AvcNalHeaderOk(std::uint8_t b) {
  const unsigned type = b & 0x1F;
  return !(b & 0x80) && type >= 1 && type <= 23;
}

bool HevcNalHeaderOk(std::uint8_t b0, std::uint8_t b1) {
  const unsigned type = (b0 >> 1) & 0x3F;
  const unsigned layer = ((b0 & 1u) << 5) | (b1 >> 3);
  // Reserved types never occur; the unspecified ones (48-63) carry
  // extensions such as Dolby Vision's.
  return !(b0 & 0x80) && !(type >= 22 && type <= 31) && !(type >= 41 && type <= 47) && layer == 0 &&
         (b1 & 7) != 0;
}

bool AvcSampleStartHeader(std::uint8_t b) {
  if (b & 0x80) return false;
  const unsigned type = b & 0x1F, ref = (b >> 5) & 3;
  switch (type) {
    case 1: return true;
    case 5: case 7: case 8: return ref != 0;
    case 6: case 9: return ref == 0;
    default: return false;
  }
}

bool HevcSampleStartHeader(std::uint8_t b0, std::uint8_t b1) {
  const unsigned type = (b0 >> 1) & 0x3F;
  return !(b0 & 0x81) && b1 == 1 && (type <= 21 || (type >= 32 && type <= 40));
}

std::uint32_t Ac3FrameBytes(const std::uint8_t* p) {
  if (p[0] != 0x0B || p[1] != 0x77) return 0;
  const unsigned rate = p[4] >> 6, code = p[4] & 0x3F;
  if (rate > 2 || code > 37) return 0;
  return std::uint32_t{kAc3Words[rate][code]} * 2;
}

std::uint32_t Eac3FrameBytes(const std::uint8_t* p) {
  if (p[0] != 0x0B || p[1] != 0x77) return 0;
  return ((std::uint32_t{p[2] & 7u} << 8 | p[3]) + 1) * 2;
}

std::uint32_t AdtsFrameBytes(const std::uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return 0;
  const std::uint32_t length = (std::uint32_t{p[3] & 3u} << 11) | (std::uint32_t{p[4]} << 3) | (p[5] >> 5);
  return length >= 7 ? length : 0;
}

std::uint32_t MpegAudioFrameBytes(const std::uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
  const unsigned version = (p[1] >> 3) & 3, layer = (p[1] >> 1) & 3;
  const unsigned rateIndex = p[2] >> 4, srIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
  if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || srIndex == 3) return 0;
  const bool mpeg1 = version == 3;
  const unsigned layerIndex = 3 - layer;  // 0: layer I, 1: II, 2: III
  const std::uint32_t kbps = mpeg1 ? kMpeg1Rates[layerIndex][rateIndex]
                                   : kMpeg2Rates[layerIndex == 0 ? 0 : 1][rateIndex];
  std::uint32_t rate = kMpegSampleRates[srIndex];
  if (version == 2) rate /= 2;
  if (version == 0) rate /= 4;
  if (layerIndex == 0) return (12 * kbps * 1000 / rate + padding) * 4;
  const std::uint32_t factor = (layerIndex == 2 && !mpeg1) ? 72 : 144;
  return factor * kbps * 1000 / rate + padding;
}

bool RawAacStart(std::uint8_t b) {
  const unsigned element = b >> 5, instance = (b >> 1) & 0xF;
  // A channel element of the first instance, or the fill and data
  // elements encoders put in front (the first frame of many encoders).
  return ((element == 0 || element == 1 || element == 3) && instance == 0) || element == 4 || element == 6;
}

SampleCheck CheckSample(FileReader& file, std::uint64_t offset, std::uint32_t size, SampleFormat format,
                        std::uint8_t nalLengthBytes) {
  const unsigned width = nalLengthBytes >= 1 && nalLengthBytes <= 4 ? nalLengthBytes : 4;
  switch (format) {
    case SampleFormat::kAvc: return NalChain(file, offset, size, false, width);
    case SampleFormat::kHevc: return NalChain(file, offset, size, true, width);
    case SampleFormat::kAac: case SampleFormat::kMp3: case SampleFormat::kAc3: case SampleFormat::kEac3:
      return AudioHeader(file, offset, size, format);
    default:
      return SampleCheck{};
  }
}

bool NalPayloadRanges(FileReader& file, std::uint64_t offset, std::uint32_t size, std::uint8_t nalLengthBytes,
                      std::vector<std::pair<std::uint64_t, std::uint64_t>>& out) {
  const unsigned width = nalLengthBytes >= 1 && nalLengthBytes <= 4 ? nalLengthBytes : 4;
  std::uint64_t pos = 0;
  std::uint8_t head[4];
  while (pos < size) {
    if (size - pos < width || !file.Read(offset + pos, head, width)) return false;
    const std::uint32_t length = ReadLength(head, width);
    if (length == 0 || length > size - pos - width) return false;
    // The payload starts after the first header byte: the header itself
    // may not hold two zero bytes anyway.
    out.emplace_back(offset + pos + width + 1, offset + pos + width + length);
    pos += width + std::uint64_t{length};
  }
  return pos == size;
}

bool FreeOfStartCodes(const std::uint8_t* p, std::size_t n, int& zeros) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = p[i];
    if (zeros >= 2 && b <= 2) return false;
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return true;
}

}  // namespace ambrel::video
