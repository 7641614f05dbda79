#include "preview/tiff_raw_probe.h"

#include <algorithm>
#include <set>
#include <string_view>

namespace ambrel {
namespace {

constexpr std::size_t kProbeWindow = 0x3800000;
constexpr std::uint64_t kMinRawSize = 0x1FFFFF;
constexpr std::size_t kMaxDirectories = 512;
constexpr std::size_t kMaxEntries = 512;
constexpr int kMaxDepth = 4;
constexpr std::uint32_t kMaxSubDirectories = 512;
constexpr std::uint32_t kMaxArrayScan = 65536;
constexpr std::uint32_t kDefaultRawType = 50;
// The bytes a directory past the data is taken to need, to read it whole.
constexpr std::uint64_t kDirectoryGuess = 2 + 12 * 64 + 4;

constexpr std::uint16_t kTagMake = 271, kTagStripOffsets = 273, kTagStripCounts = 279;
constexpr std::uint16_t kTagTileOffsets = 324, kTagTileCounts = 325, kTagSubDirectories = 330;
constexpr std::uint16_t kTagJpegOffset = 513, kTagJpegLength = 514, kTagExif = 34665;
constexpr std::uint16_t kTagDngVersion = 50706;

std::uint64_t TypeSize(std::uint16_t type) {
  switch (type) {
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return type >= 1 && type <= 12 ? 1 : 0;
  }
}

// One directory entry: where its values are (inline in the entry when
// they fit in 4 bytes).
struct Entry {
  std::uint16_t tag = 0, type = 0;
  std::uint32_t count = 0;
  std::uint64_t valueOffset = 0;
  std::uint64_t bytes = 0;
};

class TiffWalker {
 public:
  TiffWalker(ByteCursor data, bool bigEndian) : data_(data), big_(bigEndian) {}

  TiffExtent Walk() {
    if (auto first = U32(4)) Chain(*first, 0);
    return extent_;
  }

 private:
  std::optional<std::uint16_t> U16(std::uint64_t off) const { return big_ ? data_.U16Be(off) : data_.U16(off); }
  std::optional<std::uint32_t> U32(std::uint64_t off) const { return big_ ? data_.U32Be(off) : data_.U32(off); }

  void Beyond(std::uint64_t end) {
    extent_.beyond = true;
    extent_.wanted = std::max(extent_.wanted, end);
  }

  void Note(std::uint64_t end) {
    if (end <= data_.size()) extent_.end = std::max(extent_.end, end);
    else Beyond(end);
  }

  // Value i of a SHORT or LONG array.
  std::optional<std::uint32_t> Value(const Entry& e, std::uint32_t i) const {
    if (i >= e.count) return std::nullopt;
    if (e.type == 3) {
      auto v = U16(e.valueOffset + 2ull * i);
      return v ? std::optional<std::uint32_t>(*v) : std::nullopt;
    }
    if (e.type == 4 || e.type == 13) return U32(e.valueOffset + 4ull * i);
    return std::nullopt;
  }

  std::optional<Entry> ReadEntry(std::uint64_t at) const {
    auto tag = U16(at), type = U16(at + 2);
    auto count = U32(at + 4), field = U32(at + 8);
    if (!tag || !type || !count || !field) return std::nullopt;
    Entry e{*tag, *type, *count, at + 8, *count * TypeSize(*type)};
    if (e.bytes > 4) e.valueOffset = *field;
    return e;
  }

  // The largest offset + length over a pair of arrays (strips or tiles).
  void NoteRuns(const Entry& offsets, const Entry& lengths) {
    const std::uint32_t n = std::min(offsets.count, lengths.count);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (i == kMaxArrayScan && n > kMaxArrayScan) i = n - 1;   // huge arrays: the last run too
      auto off = Value(offsets, i), len = Value(lengths, i);
      if (!off || !len) {
        if (offsets.valueOffset >= data_.size() || lengths.valueOffset >= data_.size())
          Beyond(std::max(offsets.valueOffset + offsets.bytes, lengths.valueOffset + lengths.bytes));
        return;
      }
      Note(std::uint64_t{*off} + *len);
    }
  }

  void NoteMake(const Entry& e) {
    if (!extent_.make.empty() || e.type != 2) return;
    auto text = data_.Sub(e.valueOffset, e.bytes);
    if (!text) return;
    std::string_view s(reinterpret_cast<const char*>(text->data()), text->size());
    extent_.make = std::string(s.substr(0, s.find('\0')));
  }

  void Descend(const Entry& e, int depth) {
    if (depth >= kMaxDepth) return;
    const std::uint32_t n = e.tag == kTagExif ? 1 : std::min(e.count, kMaxSubDirectories);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (auto offset = Value(e, i)) Chain(*offset, depth + 1);
    }
  }

  // Walks a directory and the ones its next-directory offsets name, while
  // they move forward inside the data.
  void Chain(std::uint64_t offset, int depth) {
    while (auto next = Directory(offset, depth)) {
      if (*next >= data_.size()) Beyond(*next + kDirectoryGuess);
      if (*next <= offset || *next >= data_.size()) return;
      offset = *next;
    }
  }

  // One directory; its next-directory offset, or nothing when it ends the walk.
  std::optional<std::uint64_t> Directory(std::uint64_t offset, int depth) {
    if (extent_.directories >= kMaxDirectories || !visited_.insert(offset).second)
      return std::nullopt;
    auto count = U16(offset);
    if (!count && offset >= data_.size()) Beyond(offset + kDirectoryGuess);
    if (!count || *count == 0 || *count > kMaxEntries) return std::nullopt;
    ++extent_.directories;
    const std::uint64_t end = offset + 2 + 12ull * *count;
    Note(end);
    Entry pairs[6];   // strip offsets/counts, tile offsets/counts, JPEG offset/length
    for (std::uint16_t i = 0; i < *count; ++i) {
      auto e = ReadEntry(offset + 2 + 12ull * i);
      if (!e) break;
      if (e->bytes > 4) Note(e->valueOffset + e->bytes);
      switch (e->tag) {
        case kTagMake: NoteMake(*e); break;
        case kTagStripOffsets: pairs[0] = *e; break;
        case kTagStripCounts: pairs[1] = *e; break;
        case kTagTileOffsets: pairs[2] = *e; break;
        case kTagTileCounts: pairs[3] = *e; break;
        case kTagJpegOffset: pairs[4] = *e; break;
        case kTagJpegLength: pairs[5] = *e; break;
        case kTagSubDirectories:
        case kTagExif: Descend(*e, depth); break;
        case kTagDngVersion: extent_.dng = true; break;
        default: break;
      }
    }
    for (int k = 0; k < 6; k += 2) NoteRuns(pairs[k], pairs[k + 1]);
    auto next = U32(end);
    if (!next) return std::nullopt;
    return *next;
  }

  ByteCursor data_;
  bool big_;
  TiffExtent extent_;
  std::set<std::uint64_t> visited_;
};

}  // namespace

std::optional<TiffExtent> MeasureTiff(ByteSpan bytes) {
  ByteCursor data(bytes);
  if (data.Matches(0, "MM")) return TiffWalker(data, true).Walk();
  if (data.Matches(0, "II")) return TiffWalker(data, false).Walk();
  return std::nullopt;
}

std::uint32_t RawTypeOfMaker(std::string_view make) {
  struct Maker {
    std::string_view name;
    std::uint32_t type;
  };
  static constexpr Maker kMakers[] = {
      {"Canon", 49},   {"NIKON", 92},     {"PENTAX", 98},  {"SONY", 101},
      {"OLYMPUS", 104}, {"Panasonic", 50}, {"SAMSUNG", 52}, {"Mamiya", 102},
  };
  for (const auto& m : kMakers)
    if (make.find(m.name) != std::string_view::npos) return m.type;
  return kDefaultRawType;
}

SizeProbe ProbeTiffRawIn(ByteSpan data, bool complete) {
  auto extent = MeasureTiff(data);
  if (!extent) return SizeProbe{kWalkMalformed, 0, 0};
  if (extent->beyond && !complete && data.size() < kProbeWindow) return SizeProbe{kWalkNeedMore, 0, 0};
  if (extent->end <= kMinRawSize) return SizeProbe{kWalkMalformed, 0, 0};
  return SizeProbe{kWalkOk, extent->end, RawTypeOfMaker(extent->make)};
}

SizeProbe ProbeTiffRaw(CarveSource& source) {
  const std::vector<std::uint8_t> data = source.Read(0, kProbeWindow);
  auto extent = MeasureTiff(data);
  if (!extent || extent->end <= kMinRawSize) return SizeProbe{kWalkMalformed, 0, 0};
  return SizeProbe{kWalkOk, extent->end, RawTypeOfMaker(extent->make)};
}

}  // namespace ambrel
