// Images and photos: PNG, GIF, JPEG, Photoshop, bitmaps, icons, TIFF and
// the camera raw files built on it, Fujifilm raw.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "deepscan/carve/carve_units.h"
#include "preview/tiff_raw_probe.h"

namespace ambrel {
namespace {

using namespace std::string_view_literals;

// Phases of the JPEG walk: markers up to the start of scan, then the
// search for the end-of-image marker.
constexpr std::uint8_t kJpegMarkers = 0;
constexpr std::uint8_t kJpegScan = 1;
// A marker segment may jump this far past the window before the walk is
// judged broken.
constexpr std::uint64_t kJpegJumpSlack = 0xFFFFF;
constexpr std::uint32_t kTiffProbeWindow = 0x3800000;
// Bytes read past the largest end the directories name (directories past
// the data are read whole), and the growths allowed.
constexpr std::uint64_t kTiffSlack = 0x10000;
constexpr std::uint32_t kTiffMaxGrowths = 8;
constexpr std::uint32_t kTiffType = 51;
constexpr std::uint32_t kDngType = 52;

// Fujifilm RAF: "FUJIFILMCCD-RAW ", versions and the camera's name, then
// at 0x54 big-endian offset and length pairs: the JPEG preview, the raw
// header and the raw data. Cameras that store a second read-out of the
// sensor give its raw header and data in two more pairs at 0x78, inside
// the header when the preview starts past them. The file ends with the
// part that ends last.
constexpr std::uint64_t kRafPairs = 0x54, kRafSecondPairs = 0x78, kRafSecondEnd = 0x88;
constexpr std::uint64_t kRafHeader = 0x90;
constexpr std::uint32_t kRafMaxPart = 0x40000000;

// PNG: the chunks after the 8-byte signature, each length (big-endian),
// type, data and a CRC over type and data; IHDR first, IEND last. Chunks
// up to this size are checked by their CRC, larger ones only skipped.
constexpr std::uint32_t kPngCheckedChunk = 0x1000000;
constexpr std::uint32_t kPngMaxChunk = 0x7FFFFFFF;
constexpr std::uint64_t kPngSignature = 8;

// GIF: header and logical screen (13 bytes), then blocks: 0x2C image
// (a 10-byte descriptor, a local colour table, the LZW code size and data
// sub-blocks), 0x21 extension (a label and sub-blocks), 0x3B trailer.
constexpr std::uint8_t kGifHeader = 0, kGifBlocks = 1, kGifSubBlocks = 2;
constexpr std::uint8_t kGifImage = 0x2C, kGifExtension = 0x21, kGifTrailer = 0x3B;
constexpr std::uint64_t kGifScreenEnd = 13;
constexpr std::uint8_t kGifMaxCodeSize = 12;

// Photoshop: the 26-byte header, three sections each led by its length
// (colour mode data, image resources, layers and masks: 8 bytes in the
// large document format), then the merged image: raw rows or RLE rows led
// by a table of their packed lengths.
constexpr std::uint8_t kPsdHeader = 0, kPsdSections = 1, kPsdImage = 2, kPsdRowTable = 3;
constexpr std::uint64_t kPsdHeaderBytes = 26;
constexpr std::uint32_t kPsdMaxChannels = 56;
constexpr std::uint32_t kPsdMaxSide = 300000;

// Icons and cursors: a 6-byte header (0, type 1 or 2, image count), then
// 16 bytes per image with its size and offset; each image is a PNG or a
// bitmap header.
constexpr std::uint64_t kIconHeader = 6, kIconEntry = 16;
constexpr std::uint16_t kIconMaxImages = 256;
constexpr std::uint32_t kIconMaxImage = 0x1000000;

// Phase 1 over the window that starts at s.offset: the answer, or nothing
// when the start of scan was reached (s.offset is then its position).
std::optional<RuleResult> WalkJpegMarkers(CarveState& s, const ByteCursor& w, const CarveInput& in) {
  const std::uint64_t base = s.offset;
  std::uint64_t at = 0;
  for (;;) {
    while (w.U8(at) == 0xFF && w.U8(at + 1) == 0xFF) ++at;  // fill bytes
    if (!w.Contains(at, 4)) break;
    if (w.UncheckedU8(at) != 0xFF) return Invalid(s);
    const std::uint8_t marker = w.UncheckedU8(at + 1);
    if (marker == 0xD8) {
      at += 2;
      continue;
    }
    if (marker == 0xDA) {
      s.offset = base + at;
      return std::nullopt;
    }
    const std::uint16_t length = static_cast<std::uint16_t>((w.UncheckedU8(at + 2) << 8) | w.UncheckedU8(at + 3));
    if (length == 0) return Invalid(s);
    at += 2 + std::uint64_t{length};
  }
  // The walk left the window: by a little, the next window holds it.
  if (at > w.size() && at - w.size() > kJpegJumpSlack) return Invalid(s);
  return GrowWindow(s, in, base + at);
}

// Phase 2: the first FF D9 after the start of scan ends the file. In the
// entropy-coded data a 0xFF is followed only by a stuffed 0, a restart
// marker, fill, or (between the scans of a progressive image) a table,
// scan or application marker: any other pair is not JPEG data, and the
// file was cut before its end.
bool IsScanMarker(std::uint8_t m) {
  return m == 0x00 || m == 0xFF || (m >= 0xD0 && m <= 0xD7) || (m >= 0xC0 && m <= 0xCF && m != 0xC8) ||
         (m >= 0xDA && m <= 0xEF) || m == 0xFE;
}

RuleResult FindEndOfImage(CarveState& s, const ByteCursor& w, const CarveInput& in) {
  const std::uint8_t* data = w.data();
  std::size_t at = 0;
  while (w.size() >= 2 && at + 1 < w.size()) {
    const void* hit = std::memchr(data + at, 0xFF, w.size() - 1 - at);
    if (!hit) break;
    at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (data[at + 1] == 0xD9) return Sized(s, s.offset + at + 2);
    if (!IsScanMarker(data[at + 1])) return Invalid(s);
    ++at;
  }
  // Resume one byte early, so that a marker split by the window end is found.
  const std::uint64_t resume = s.offset + (w.size() > 0 ? w.size() - 1 : 0);
  return GrowWindow(s, in, resume);
}


bool IsPngChunkType(const ByteCursor& w, std::uint64_t at) {
  for (std::uint64_t i = 0; i < 4; ++i) {
    const auto c = w.U8(at + i);
    if (!c || !((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z'))) return false;
  }
  return true;
}

std::optional<RuleResult> PngStep(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  std::uint64_t pos = 0;
  if (s.offset == 0) {
    if (!w.Contains(0, kPngSignature + 8)) {
      need = kPngSignature + 8;
      return std::nullopt;
    }
    // The signature, then IHDR of 13 bytes.
    if (!IsPng(w) || w.U32Be(8) != 13u || !w.Matches(12, "IHDR")) return Invalid(s);
    pos = kPngSignature;
  }
  for (;;) {
    const auto length = w.U32Be(pos);
    if (!length || !w.Contains(pos, 8)) {
      need = 12;
      break;
    }
    if (*length > kPngMaxChunk || !IsPngChunkType(w, pos + 4)) return Invalid(s);
    const std::uint64_t total = 12ull + *length;
    if (*length <= kPngCheckedChunk) {
      if (!w.Contains(pos, total)) {
        need = static_cast<std::uint32_t>(total);
        break;
      }
      const auto crc = crc32(0, w.data() + pos + 4, static_cast<uInt>(*length + 4));
      if (crc != w.U32Be(pos + 8 + *length)) return Invalid(s);
    }
    const bool end = w.Matches(pos + 4, "IEND");
    pos += total;
    if (end) return Sized(s, s.offset + pos);
  }
  s.offset += pos;
  return std::nullopt;
}

// The colour table that follows a screen or image descriptor with `flags`.
std::uint64_t GifColourTable(std::uint8_t flags) {
  return (flags & 0x80) ? 3ull << ((flags & 7) + 1) : 0;
}

std::optional<RuleResult> GifStep(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  std::uint64_t pos = 0;
  if (s.phase == kGifHeader) {
    if (!w.Contains(0, kGifScreenEnd)) {
      need = kGifScreenEnd;
      return std::nullopt;
    }
    if (!IsGif(w)) return Invalid(s);
    pos = kGifScreenEnd + GifColourTable(w.UncheckedU8(10));
    s.phase = kGifBlocks;
  }
  while (pos < w.size()) {
    const std::uint8_t b = w.UncheckedU8(pos);
    if (s.phase == kGifSubBlocks) {
      // Sub-blocks: a length byte and that many bytes; length 0 ends them.
      pos += 1 + std::uint64_t{b};
      if (b == 0) s.phase = kGifBlocks;
      continue;
    }
    if (b == kGifTrailer) {
      // A file without any image is no picture.
      if (s.counter == 0) return Invalid(s);
      return Sized(s, s.offset + pos + 1);
    }
    if (b == kGifExtension) {
      const auto label = w.U8(pos + 1);
      if (!label) {
        need = 2;
        break;
      }
      if (*label != 0xF9 && *label != 0xFE && *label != 0x01 && *label != 0xFF) return Invalid(s);
      pos += 2;
      s.phase = kGifSubBlocks;
    } else if (b == kGifImage) {
      const auto flags = w.U8(pos + 9);
      if (!flags) {
        need = 10;
        break;
      }
      const std::uint64_t codeAt = pos + 10 + GifColourTable(*flags);
      const auto codeSize = w.U8(codeAt);
      if (!codeSize) {
        need = static_cast<std::uint32_t>(codeAt - pos + 1);
        break;
      }
      if (*codeSize == 0 || *codeSize > kGifMaxCodeSize) return Invalid(s);
      pos = codeAt + 1;
      ++s.counter;
      s.phase = kGifSubBlocks;
    } else {
      return Invalid(s);
    }
  }
  s.offset += pos;
  return std::nullopt;
}

// Photoshop. The walk's words: phase; remembered, the sections walked;
// counter, the rows left in the RLE table; mark, the raw image size and
// then the RLE data summed so far (low 56 bits) with the width of the
// table's entries (top byte: 2, or 4 in the large document format).
std::optional<RuleResult> PsdStep(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  constexpr std::uint64_t kLow = 0x00FFFFFFFFFFFFFFull;
  std::uint64_t pos = 0;
  if (s.phase == kPsdHeader) {
    if (!w.Contains(0, kPsdHeaderBytes)) {
      need = kPsdHeaderBytes;
      return std::nullopt;
    }
    const std::uint16_t version = *w.U16Be(4);
    const std::uint32_t channels = *w.U16Be(12), height = *w.U32Be(14), width = *w.U32Be(18);
    const std::uint16_t depth = *w.U16Be(22);
    if (!w.Matches(0, "8BPS") || (version != 1 && version != 2) || *w.U32(6) != 0 || *w.U16(10) != 0 ||
        channels == 0 || channels > kPsdMaxChannels || height == 0 || width == 0 || height > kPsdMaxSide ||
        width > kPsdMaxSide || (depth != 1 && depth != 8 && depth != 16 && depth != 32))
      return Invalid(s);
    const std::uint64_t rowBytes = (std::uint64_t{width} * depth + 7) / 8;
    s.mark = (std::uint64_t{version == 2 ? 4u : 2u} << 56) | (channels * std::uint64_t{height} * rowBytes);
    s.counter = channels * height;
    s.remembered = 0;
    pos = kPsdHeaderBytes;
    s.phase = kPsdSections;
  }
  const unsigned entry = static_cast<unsigned>(s.mark >> 56);
  while (s.phase == kPsdSections) {
    // Colour mode data, image resources, layers and masks.
    const unsigned width = (s.remembered == 2 && entry == 4) ? 8 : 4;
    if (!w.Contains(pos, width)) {
      need = width;
      s.offset += pos;
      return std::nullopt;
    }
    const std::uint64_t length = width == 8 ? *w.U64Be(pos) : *w.U32Be(pos);
    if (length > (1ull << 40)) return Invalid(s);
    pos += width + length;
    if (++s.remembered == 3) s.phase = kPsdImage;
  }
  if (s.phase == kPsdImage) {
    const auto compression = w.U16Be(pos);
    if (!compression) {
      need = 2;
      s.offset += pos;
      return std::nullopt;
    }
    pos += 2;
    if (*compression == 0) return Sized(s, s.offset + pos + (s.mark & kLow));
    if (*compression != 1) return RuleResult::kNone;  // zip: the size is not stated
    s.phase = kPsdRowTable;
    s.mark &= ~kLow;
  }
  std::uint64_t sum = s.mark & kLow;
  while (s.counter > 0 && w.Contains(pos, entry)) {
    sum += entry == 4 ? *w.U32Be(pos) : *w.U16Be(pos);
    pos += entry;
    --s.counter;
  }
  s.mark = (s.mark & ~kLow) | (sum & kLow);
  if (s.counter == 0) return Sized(s, s.offset + pos + sum);
  need = entry;
  s.offset += pos;
  return std::nullopt;
}

}  // namespace

bool IsPng(const ByteCursor& s) { return s.Matches(0, "\x89PNG\x0D\x0A\x1A\x0A"sv); }

bool IsGif(const ByteCursor& s) {
  return s.Matches(0, "GIF8"sv) && (s.U8(4) == '7' || s.U8(4) == '9') && s.U8(5) == 'a';
}

bool IsJpeg(const ByteCursor& s) {
  if (!s.Matches(0, "\xFF\xD8\xFF"sv)) return false;
  switch (s.UncheckedU8(3)) {
    case 0xDB: case 0xE0: case 0xE1: case 0xEB: case 0xEE: case 0xFE: case 0xC4: case 0xE9:
      return true;
    default:
      return false;
  }
}

bool IsPhotoshop(const ByteCursor& s) { return s.Matches(0, "8BPS"sv) && s.U32(4) == 0x100u; }

bool IsBitmap(const ByteCursor& s) {
  if (!s.Matches(0, "BM"sv) || s.U8(7) != 0 || s.U8(9) != 0 || s.U8(15) != 0) return false;
  const auto header = s.U8(14);
  return header == 0x0C || header == 0x28 || header == 0x6C || header == 0x7C;
}

bool IsIcon(const ByteCursor& s) {
  const auto type = s.U16(2), count = s.U16(4);
  if (s.U16(0) != 0u || !type || (*type != 1 && *type != 2) || !count || *count == 0 || *count > kIconMaxImages)
    return false;
  // The first entry: reserved byte 0, an image after the directory.
  const auto reserved = s.U8(kIconHeader + 3);
  const auto size = s.U32(kIconHeader + 8), offset = s.U32(kIconHeader + 12);
  return reserved == 0 && size && *size > 0 && offset && *offset >= kIconHeader + kIconEntry * *count;
}

bool IsTiff(const ByteCursor& s) {
  return s.Matches(0, "II*\x00"sv) || s.Matches(0, "MM\x00*"sv) || s.Matches(0, "IIRO"sv) ||
         s.Matches(0, "IIU\x00"sv);
}

bool IsFujifilmRaw(const ByteCursor& s) { return s.Matches(0, "FUJIFILM"sv); }

RuleResult JpegRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  if (s.phase == kJpegMarkers) {
    const WindowRead r = GrowingWindow(s, in, s.offset, w);
    if (r != WindowRead::kReady) return NotReady(r);
    if (const auto walked = WalkJpegMarkers(s, w, in)) return *walked;
    s.phase = kJpegScan;
  }
  const WindowRead r = GrowingWindow(s, in, s.offset, w);
  if (r != WindowRead::kReady) return NotReady(r);
  return FindEndOfImage(s, w, in);
}

RuleResult BitmapRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const WindowRead r = Window(s, in, 0, 256, w);
  if (r != WindowRead::kReady) return NotReady(r);
  const auto dib = w.U32(14);
  if (w.U16(6) != 0 || w.U16(8) != 0 || !dib || (*dib != 40 && *dib != 124)) return Invalid(s);
  const auto size = w.U32(2);
  if (!size || *size < 14 + *dib) return Invalid(s);
  return Sized(s, *size);
}

// The file ends with the image that ends last; every image must start
// with a PNG signature or a bitmap header.
RuleResult IconRule(CarveState& s, const CarveInput& in) {
  if (s.endPending) return SizedIfPresent(s, in, s.size);
  ByteCursor w;
  WindowRead r = Window(s, in, 0, 4096, w);
  if (r != WindowRead::kReady) return NotReady(r);
  if (!IsIcon(w)) return Invalid(s);
  const std::uint16_t count = *w.U16(4);
  const std::uint64_t directoryEnd = kIconHeader + kIconEntry * count;
  if (!w.Contains(0, directoryEnd)) return Invalid(s);
  std::uint64_t end = directoryEnd;
  std::vector<std::uint32_t> offsets;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint64_t at = kIconHeader + kIconEntry * i;
    const std::uint32_t size = w.UncheckedU32(at + 8), offset = w.UncheckedU32(at + 12);
    if (w.UncheckedU8(at + 3) != 0 || size < 16 || size > kIconMaxImage || offset < directoryEnd) return Invalid(s);
    end = std::max<std::uint64_t>(end, std::uint64_t{offset} + size);
    offsets.push_back(offset);
  }
  // Each image's first bytes, looked at one by one (the walk word counts
  // those already seen).
  for (; s.counter < count; ++s.counter) {
    ByteCursor image;
    r = Window(s, in, offsets[s.counter], 8, image);
    if (r == WindowRead::kPending) return RuleResult::kPending;
    if (r != WindowRead::kReady || !(IsPng(image) || image.U32(0) == 40u || image.U32(0) == 12u))
      return Invalid(s);
  }
  return SizedIfPresent(s, in, end);
}

RuleResult FujifilmRawRule(CarveState& s, const CarveInput& in) {
  if (s.endPending) return SizedIfPresent(s, in, s.size);
  ByteCursor w;
  WindowRead r = Window(s, in, 0, kRafHeader, w);
  if (r != WindowRead::kReady) return NotReady(r);
  if (!w.Contains(0, kRafHeader) || !w.Matches(0, "FUJIFILMCCD-RAW "sv)) return Invalid(s);
  const std::uint32_t preview = *w.U32Be(kRafPairs);
  if (preview < kRafPairs + 24) return Invalid(s);
  const std::uint64_t pairs[] = {kRafPairs, kRafPairs + 8, kRafPairs + 16, kRafSecondPairs, kRafSecondPairs + 8};
  const std::size_t count = preview >= kRafSecondEnd ? 5 : 3;
  std::uint64_t end = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t at = pairs[i];
    const std::uint32_t offset = *w.U32Be(at), length = *w.U32Be(at + 4);
    if (offset == 0 && length == 0) continue;
    if (offset < kRafPairs + 24 || length == 0 || length > kRafMaxPart) return Invalid(s);
    end = std::max(end, std::uint64_t{offset} + length);
  }
  // The preview is a JPEG.
  ByteCursor jpeg;
  r = Window(s, in, preview, 3, jpeg);
  if (r != WindowRead::kReady) return NotReady(r);
  if (!jpeg.Matches(0, "\xFF\xD8\xFF"sv)) return Invalid(s);
  return SizedIfPresent(s, in, end);
}

RuleResult PngRule(CarveState& s, const CarveInput& in) { return WalkRecords(s, in, PngStep, 16); }

RuleResult GifRule(CarveState& s, const CarveInput& in) { return WalkRecords(s, in, GifStep, 13); }

RuleResult PhotoshopRule(CarveState& s, const CarveInput& in) {
  return WalkRecords(s, in, PsdStep, static_cast<std::uint32_t>(kPsdHeaderBytes));
}

// The type of a TIFF by what its directories tell: a DNG, a camera raw
// file by its maker (or its own signature), else a plain TIFF.
std::uint32_t TiffTypeOf(const ByteCursor& w, const TiffExtent& extent) {
  if (extent.dng) return kDngType;
  if (w.Matches(0, "IIRO")) return 104;   // Olympus ORF
  if (w.Matches(0, "IIU")) return 50;     // Panasonic RW2
  if (w.Matches(8, "CR")) return 49;      // Canon CR2
  if (extent.make.empty()) return kTiffType;
  const std::uint32_t raw = RawTypeOfMaker(extent.make);
  return raw == RawTypeOfMaker("") ? kTiffType : raw;
}

// The TIFF directories may point anywhere in the file: the window grows
// from the file's start to the largest end of what they name, until all
// of it lies inside (at most the probe's window); the file ends at the
// highest byte a directory, value, strip or tile takes.
RuleResult TiffRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const WindowRead r = GrowingWindow(s, in, 0, w);
  if (r != WindowRead::kReady) return NotReady(r);
  const std::uint64_t toAreaEnd = in.AreaEndByte() - s.fileLba * 512;
  const bool complete = w.size() >= toAreaEnd;
  const auto extent = MeasureTiff(w.span());
  if (!extent) return Invalid(s);
  // The first directory may lie past the window (writers that put it after
  // the strips): the window grows to it before the file is judged.
  if (!extent->beyond && (extent->directories == 0 || extent->end == 0)) return Invalid(s);
  if (extent->beyond) {
    // Something the directories name lies past the device or the largest
    // window: the end is not known.
    const std::uint64_t want = std::min(extent->wanted + kTiffSlack, toAreaEnd);
    if (complete || want > kTiffProbeWindow || want <= w.size() || ++s.counter > kTiffMaxGrowths)
      return extent->directories == 0 ? Invalid(s) : RuleResult::kNone;
    // Read again from the file's start once the chunk holding `want` is in.
    s.remembered = s.need = static_cast<std::uint32_t>(want);
    s.offset = 0;
    s.windowFirst = s.windowLast = s.fileLba + (want - 1) / 512;
    return RuleResult::kPending;
  }
  s.type = TiffTypeOf(w, *extent);
  return Sized(s, extent->end);
}

}  // namespace ambrel
