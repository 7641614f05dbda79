// The zip listing, through minizip's central-directory reading.
#include <string_view>

#include "app/zip_memory.h"
#include "preview/archive_listing.h"
#include "preview/utf16_text.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxNameBytes = 260;
constexpr unsigned long kUtf8NameFlag = 0x0800;

// The name as stored: UTF-8 when the entry says so, else the ANSI code page.
std::u16string MemberName(const char* bytes, const unz_file_info64& info) {
  std::string_view name(bytes);
  return (info.flag & kUtf8NameFlag) ? Utf8ToValidUtf16(name) : AnsiToUtf16(name);
}

}  // namespace

std::optional<std::u16string> ListZip(ByteSpan data) {
  ZipInMemory zip(data.data(), data.size());
  unzFile z = zip.handle();
  if (!z) return std::nullopt;
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(z, &global) != UNZ_OK) return std::nullopt;
  std::u16string listing = ListingHeader();
  if (unzGoToFirstFile(z) != UNZ_OK) return listing;
  for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
    unz_file_info64 info{};
    char name[kMaxNameBytes + 1] = {};
    if (unzGetCurrentFileInfo64(z, &info, name, kMaxNameBytes, nullptr, 0, nullptr, 0) != UNZ_OK)
      break;
    if (info.uncompressed_size != 0) {
      const std::uint64_t ratio = RatioPercent(info.compressed_size, info.uncompressed_size);
      const tm_unz& d = info.tmu_date;
      const ListingTime when{d.tm_year, d.tm_mon + 1, d.tm_mday, d.tm_hour, d.tm_min};
      if (ratio != 0 && !AppendListingLine(listing, ListingLine(ratio, when, MemberName(name, info))))
        break;
    }
    if (i + 1 < global.number_entry && unzGoToNextFile(z) != UNZ_OK) break;
  }
  return listing;
}

}  // namespace ambrel
