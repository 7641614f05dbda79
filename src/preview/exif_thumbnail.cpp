#include "preview/exif_thumbnail.h"

#include <optional>
#include <string_view>

namespace ambrel {

ByteSpan ExifThumbnail(ByteSpan jpeg) {
  const ByteCursor c(jpeg);
  if (!c.Matches(0, "\xFF\xD8")) return {};
  // The markers before the first scan; APP1 "Exif" is among the first.
  std::uint64_t at = 2;
  for (int segments = 0; segments < 32; ++segments) {
    const std::optional<std::uint8_t> mark = c.U8(at), kind = c.U8(at + 1);
    const std::optional<std::uint16_t> length = c.U16Be(at + 2);
    if (!mark || !kind || !length || *mark != 0xFF || *kind == 0xDA || *kind == 0xD9 || *length < 2) return {};
    if (*kind == 0xE1 && c.Matches(at + 4, std::string_view("Exif\0\0", 6))) {
      const std::optional<ByteCursor> tiff = c.Sub(at + 10, *length - 8u);
      if (!tiff) return {};
      const bool big = tiff->Matches(0, "MM");
      if (!big && !tiff->Matches(0, "II")) return {};
      auto u16 = [&](std::uint64_t o) { return big ? tiff->U16Be(o) : tiff->U16(o); };
      auto u32 = [&](std::uint64_t o) { return big ? tiff->U32Be(o) : tiff->U32(o); };
      const std::optional<std::uint32_t> ifd0 = u32(4);
      const std::optional<std::uint16_t> count0 = ifd0 ? u16(*ifd0) : std::nullopt;
      const std::optional<std::uint32_t> ifd1 = count0 ? u32(*ifd0 + 2 + std::uint64_t(*count0) * 12) : std::nullopt;
      if (!ifd1 || *ifd1 == 0) return {};
      const std::optional<std::uint16_t> count1 = u16(*ifd1);
      if (!count1) return {};
      std::uint32_t offset = 0, size = 0;
      for (std::uint32_t i = 0; i < *count1; ++i) {
        const std::uint64_t entry = *ifd1 + 2 + std::uint64_t(i) * 12;
        const std::optional<std::uint16_t> tag = u16(entry);
        const std::optional<std::uint32_t> value = u32(entry + 8);
        if (!tag || !value) return {};
        if (*tag == 0x0201) offset = *value;
        if (*tag == 0x0202) size = *value;
      }
      const std::optional<ByteCursor> thumb = tiff->Sub(offset, size);
      if (!thumb || size < 4 || !thumb->Matches(0, "\xFF\xD8")) return {};
      return thumb->span();
    }
    at += 2 + std::uint64_t(*length);
  }
  return {};
}

}  // namespace ambrel
