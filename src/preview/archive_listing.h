// The member listing shown for zip and rar archives: a header line and one
// line per member with its compression ratio, modification time and name,
// the whole cut to 0x10000 bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/byte_cursor.h"

namespace ambrel {

struct ListingTime {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0;
};

// The header line "压缩率  文件最后修改时间   文件名\r\n".
std::u16string ListingHeader();
// One member line; the spacing after the ratio keeps the date column
// aligned for 1-, 2- and 3-digit ratios.
std::u16string ListingLine(std::uint64_t ratio, const ListingTime& time, std::u16string_view name);
// packed x 100 / unpacked without overflow (unpacked must not be 0).
std::uint64_t RatioPercent(std::uint64_t packed, std::uint64_t unpacked);
// Appends a line while the listing stays within 0x10000 bytes; false once full.
bool AppendListingLine(std::u16string& listing, std::u16string_view line);

// Listings of the archive types (zip: type 61, rar: type 62).
std::optional<std::u16string> ListZip(ByteSpan data);
std::optional<std::u16string> ListRar(ByteSpan data);

}  // namespace ambrel
