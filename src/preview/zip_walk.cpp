#include "preview/zip_walk.h"

#include <string_view>

namespace ambrel {
namespace {

constexpr std::uint32_t kLocalHeader = 0x04034B50u;
constexpr std::uint32_t kCentralHeader = 0x02014B50u;
constexpr std::uint32_t kEndRecord = 0x06054B50u;
constexpr std::uint32_t kZip64EndRecord = 0x06064B50u;
constexpr std::uint32_t kZip64Locator = 0x07064B50u;
constexpr std::uint64_t kFarBeyond = 0x10000000;
constexpr std::uint16_t kDataDescriptorFlag = 0x0008;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFFu;

SizeProbe Answer(int result, std::uint64_t size = 0, std::uint32_t type = 0) {
  return SizeProbe{result, size, type};
}

// A record at `pos` that does not fit: 3 near the end, 5 far beyond it.
SizeProbe PastEnd(ByteCursor data, std::uint64_t pos) {
  return Answer(pos > data.size() && pos - data.size() > kFarBeyond ? kWalkMalformed
                                                                    : kWalkNeedMore);
}

}  // namespace

std::uint32_t OoxmlTypeOfMember(std::string_view name) {
  if (name.starts_with("word/")) return 37;
  if (name.starts_with("xl/")) return 38;
  if (name.starts_with("ppt/")) return 89;
  return 0;
}

SizeProbe WalkZipRecords(ByteSpan bytes) {
  ByteCursor data(bytes);
  std::uint32_t type = 0;
  std::uint64_t pos = 0;
  for (;;) {
    auto signature = data.U32(pos);
    if (!signature) return PastEnd(data, pos);
    if (*signature == kLocalHeader) {
      if (!data.Contains(pos, 30)) return PastEnd(data, pos + 30);
      const std::uint16_t flags = data.UncheckedU16(pos + 6);
      const std::uint32_t packed = data.UncheckedU32(pos + 18);
      const std::uint32_t unpacked = data.UncheckedU32(pos + 22);
      const std::uint16_t nameLength = data.UncheckedU16(pos + 26);
      const std::uint16_t extraLength = data.UncheckedU16(pos + 28);
      if ((flags & kDataDescriptorFlag) || packed == kZip64Marker || unpacked == kZip64Marker)
        return Answer(kWalkUnknown);
      if (type == 0) {
        if (auto name = data.Sub(pos + 30, nameLength)) {
          type = OoxmlTypeOfMember(
              std::string_view(reinterpret_cast<const char*>(name->data()), name->size()));
        }
      }
      pos += 30 + std::uint64_t{nameLength} + extraLength + packed;
    } else if (*signature == kCentralHeader) {
      if (!data.Contains(pos, 46)) return PastEnd(data, pos + 46);
      pos += 46 + std::uint64_t{data.UncheckedU16(pos + 28)} + data.UncheckedU16(pos + 30) +
             data.UncheckedU16(pos + 32);
    } else if (*signature == kEndRecord) {
      if (!data.Contains(pos, 22)) return PastEnd(data, pos + 22);
      const std::uint64_t end = pos + 22 + data.UncheckedU16(pos + 20);
      if (end > data.size()) return PastEnd(data, end);
      return Answer(kWalkOk, end, type);
    } else if (*signature == kZip64EndRecord || *signature == kZip64Locator) {
      return Answer(kWalkUnknown);
    } else {
      return Answer(kWalkMalformed);
    }
  }
}

SizeProbe ZipArchiveSize(ByteSpan data) {
  if (data.size() < 512) return Answer(kWalkNeedMore);
  return WalkZipRecords(data);
}

}  // namespace ambrel
