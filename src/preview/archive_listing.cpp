#include "preview/archive_listing.h"

#include "common/text.h"
#include "preview/utf16_text.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxListingUnits = 0x10000 / 2;

}  // namespace

std::u16string ListingHeader() { return u"压缩率  文件最后修改时间   文件名\r\n"; }

std::u16string ListingLine(std::uint64_t ratio, const ListingTime& t, std::u16string_view name) {
  const char* format = ratio <= 9    ? "%llu%%      %04u-%02u-%02u %2.2u:%2.2u   "
                       : ratio <= 99 ? "%llu%%     %04u-%02u-%02u %2.2u:%2.2u   "
                                     : "%llu%%    %04u-%02u-%02u %2.2u:%2.2u   ";
  std::u16string line = Utf8ToUtf16(Format(format, static_cast<unsigned long long>(ratio), t.year,
                                           t.month, t.day, t.hour, t.minute));
  line += name;
  line += u"\r\n";
  return line;
}

std::uint64_t RatioPercent(std::uint64_t packed, std::uint64_t unpacked) {
  const unsigned __int128 r = static_cast<unsigned __int128>(packed) * 100 / unpacked;
  return r > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(r);
}

bool AppendListingLine(std::u16string& listing, std::u16string_view line) {
  if (listing.size() >= kMaxListingUnits) return false;
  listing += CutUtf16(line, kMaxListingUnits - listing.size());
  return listing.size() < kMaxListingUnits;
}

}  // namespace ambrel
