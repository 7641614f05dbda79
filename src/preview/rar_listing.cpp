// The rar listing: the block walk of RAR 1.5-4.x archives and of RAR 5.
#include <string_view>

#include "platform/local_time.h"
#include "preview/archive_listing.h"
#include "preview/rar_names.h"
#include "preview/utf16_text.h"

namespace ambrel {
namespace {

constexpr char kRar5Signature[] = "Rar!\x1A\x07\x01\x00";
constexpr std::size_t kMaxNameBytes = 260;

// ---- RAR 1.5-4.x blocks -------------------------------------------------

constexpr std::uint8_t kMarkBlock = 0x72, kArchiveBlock = 0x73, kFileBlock = 0x74;
constexpr std::uint8_t kCommentBlock = 0x7A, kEndBlock = 0x7B;
constexpr std::uint16_t kAddedSizeFlag = 0x8000, kLargeFileFlag = 0x0100, kUnicodeFlag = 0x0200;
constexpr std::uint16_t kMinBlockHeader = 7;

ListingTime DosTime(std::uint16_t time, std::uint16_t date) {
  return ListingTime{1980u + (date >> 9), (date >> 5) & 15u, date & 31u, unsigned(time >> 11),
                     (time >> 5) & 63u};
}

void ListRar4File(ByteCursor block, std::u16string& listing) {
  if (!block.Contains(0, 32)) return;
  const std::uint16_t flags = block.UncheckedU16(3);
  const std::uint32_t packed = block.UncheckedU32(7);
  const std::uint32_t unpacked = block.UncheckedU32(11);
  const std::uint16_t nameLength = block.UncheckedU16(26);
  if ((flags & kLargeFileFlag) || unpacked == 0 || nameLength > kMaxNameBytes) return;
  auto name = block.Sub(32, nameLength);
  if (!name) return;
  const ListingTime when = DosTime(block.UncheckedU16(20), block.UncheckedU16(22));
  AppendListingLine(listing, ListingLine(RatioPercent(packed, unpacked), when,
                                         DecodeRarName(*name, (flags & kUnicodeFlag) != 0)));
}

void WalkRar4(ByteCursor data, std::u16string& listing) {
  std::uint64_t pos = 0;
  while (data.Contains(pos, 7)) {
    const std::uint8_t type = data.UncheckedU8(pos + 2);
    const std::uint16_t flags = data.UncheckedU16(pos + 3);
    const std::uint16_t headerSize = data.UncheckedU16(pos + 5);
    if (headerSize < kMinBlockHeader) break;   // no block is shorter: the walk would stall
    if (type != kMarkBlock && type != kArchiveBlock && type != kFileBlock &&
        type != kCommentBlock && type != kEndBlock)
      break;
    if (type == kFileBlock) {
      if (auto block = data.Sub(pos, headerSize)) ListRar4File(*block, listing);
    }
    if (type == kEndBlock && headerSize == 7) break;
    std::uint64_t next = pos + headerSize;
    if (flags & kAddedSizeFlag) {
      auto added = data.U32(pos + 7);
      if (!added) break;
      next += *added;
    }
    pos = next;
  }
}

// ---- RAR 5 blocks ---------------------------------------------------------

constexpr std::uint64_t kRar5File = 2, kRar5End = 5;
constexpr std::uint64_t kExtraArea = 0x0001, kDataArea = 0x0002;
constexpr std::uint64_t kDirectory = 0x0001, kUnixTime = 0x0002, kCrcPresent = 0x0004,
                        kSizeUnknown = 0x0008;
constexpr std::uint64_t kTimeRecord = 3;

// A variable-length integer: 7 bits per byte, low first, high bit = more.
struct VarIntReader {
  ByteCursor c;
  std::uint64_t pos = 0;
  std::optional<std::uint64_t> Next() {
    std::uint64_t value = 0;
    for (unsigned shift = 0; shift < 70; shift += 7) {
      auto b = c.U8(pos++);
      if (!b) return std::nullopt;
      if (shift < 64) value |= std::uint64_t(*b & 0x7F) << shift;
      if (!(*b & 0x80)) return value;
    }
    return std::nullopt;
  }
};

bool LocalListingTime(std::int64_t unixSeconds, ListingTime& out) {
  CivilTime t;
  if (!UtcSecondsToLocal(unixSeconds, t)) return false;
  out = ListingTime{unsigned(t.year), unsigned(t.month), unsigned(t.day), unsigned(t.hour),
                    unsigned(t.minute)};
  return true;
}

// The modification time of a file time record in the extra area.
void ExtraTime(ByteCursor extra, ListingTime& when) {
  VarIntReader r{extra};
  while (r.pos < extra.size()) {
    const std::uint64_t start = r.pos;
    auto size = r.Next();
    if (!size || *size == 0) return;
    const std::uint64_t end = r.pos + *size;
    auto type = r.Next();
    if (type == kTimeRecord) {
      auto flags = r.Next();
      if (flags && (*flags & 2)) {
        if (*flags & 1) {
          if (auto s = extra.U32(r.pos)) LocalListingTime(*s, when);
        } else if (auto ft = extra.U64(r.pos)) {
          LocalListingTime(static_cast<std::int64_t>(*ft / 10000000) - 11644473600LL, when);
        }
      }
    }
    if (end <= start) return;
    r.pos = end;
  }
}

void ListRar5File(ByteCursor header, std::uint64_t extraSize, std::uint64_t packed,
                  std::u16string& listing) {
  VarIntReader r{header};
  auto fileFlags = r.Next();
  auto unpacked = r.Next();
  auto attributes = r.Next();
  if (!fileFlags || !unpacked || !attributes) return;
  ListingTime when;
  if (*fileFlags & kUnixTime) {
    auto seconds = header.U32(r.pos);
    if (!seconds) return;
    LocalListingTime(*seconds, when);
    r.pos += 4;
  }
  if (*fileFlags & kCrcPresent) r.pos += 4;
  auto compression = r.Next();
  auto host = r.Next();
  auto nameLength = r.Next();
  if (!compression || !host || !nameLength) return;
  if ((*fileFlags & (kDirectory | kSizeUnknown)) || *unpacked == 0 || *nameLength > kMaxNameBytes)
    return;
  auto name = header.Sub(r.pos, *nameLength);
  if (!name) return;
  if (extraSize && extraSize <= header.size()) {
    ExtraTime(*header.Sub(header.size() - extraSize, extraSize), when);
  }
  const std::u16string text = Utf8ToValidUtf16(
      std::string_view(reinterpret_cast<const char*>(name->data()), name->size()));
  AppendListingLine(listing, ListingLine(RatioPercent(packed, *unpacked), when, text));
}

void WalkRar5(ByteCursor data, std::u16string& listing) {
  std::uint64_t pos = 8;
  while (data.Contains(pos, 7)) {
    VarIntReader r{data, pos + 4};   // after the header CRC
    auto headerSize = r.Next();
    if (!headerSize || *headerSize < 2) break;
    const std::uint64_t headerEnd = r.pos + *headerSize;
    auto type = r.Next();
    auto flags = r.Next();
    if (!type || !flags) break;
    std::uint64_t extraSize = 0, dataSize = 0;
    if (*flags & kExtraArea) {
      auto v = r.Next();
      if (!v) break;
      extraSize = *v;
    }
    if (*flags & kDataArea) {
      auto v = r.Next();
      if (!v) break;
      dataSize = *v;
    }
    if (headerEnd < r.pos || headerEnd > data.size()) break;
    if (*type == kRar5End) break;
    if (*type == kRar5File) {
      ListRar5File(*data.Sub(r.pos, headerEnd - r.pos), extraSize, dataSize, listing);
    }
    if (dataSize > data.size()) break;
    pos = headerEnd + dataSize;
  }
}

}  // namespace

std::optional<std::u16string> ListRar(ByteSpan bytes) {
  ByteCursor data(bytes);
  std::u16string listing = ListingHeader();
  if (data.Matches(0, std::string_view(kRar5Signature, 8))) {
    WalkRar5(data, listing);
  } else {
    WalkRar4(data, listing);
  }
  return listing;
}

}  // namespace ambrel
