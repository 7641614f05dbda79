#include "preview/rar_names.h"

#include <string_view>

#include "preview/utf16_text.h"

namespace ambrel {
namespace {

std::u16string AnsiName(ByteCursor bytes) {
  return AnsiToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// The encoded part is a high byte shared by the name, then groups of four
// 2-bit codes (a flag byte) each followed by its operands: 0 one low byte,
// 1 one low byte with the shared high byte, 2 a full unit, 3 a run copied
// from the 8-bit name (optionally with a correction added to the low byte).
std::u16string DecodeWide(ByteCursor narrow, ByteCursor enc) {
  std::u16string out;
  const std::size_t maxUnits = 1024;
  std::size_t pos = 0;
  auto next = [&]() -> std::optional<std::uint8_t> { return enc.U8(pos++); };
  auto high = next();
  if (!high) return {};
  unsigned flags = 0, flagBits = 0;
  while (pos < enc.size() && out.size() < maxUnits) {
    if (flagBits == 0) {
      auto f = next();
      if (!f) break;
      flags = *f;
      flagBits = 8;
    }
    const unsigned code = (flags >> 6) & 3;
    flags = (flags << 2) & 0xFF;
    flagBits -= 2;
    if (code == 0 || code == 1) {
      auto low = next();
      if (!low) break;
      out.push_back(char16_t(*low | (code == 1 ? *high << 8 : 0)));
    } else if (code == 2) {
      auto low = next();
      auto hi = next();
      if (!low || !hi) break;
      out.push_back(char16_t(*low | (*hi << 8)));
    } else {
      auto length = next();
      if (!length) break;
      std::optional<std::uint8_t> correction = 0;
      if (*length & 0x80) correction = next();
      if (!correction) break;
      const unsigned run = (*length & 0x7F) + 2;
      for (unsigned k = 0; k < run && out.size() < narrow.size(); ++k) {
        const std::uint8_t base = narrow.UncheckedU8(out.size());
        out.push_back((*length & 0x80) ? char16_t(((base + *correction) & 0xFF) | (*high << 8))
                                       : char16_t(base));
      }
    }
  }
  RepairUtf16(out);
  return out;
}

}  // namespace

std::u16string DecodeRarName(ByteCursor stored, bool unicode) {
  std::size_t zero = 0;
  while (zero < stored.size() && stored.UncheckedU8(zero) != 0) ++zero;
  ByteCursor narrow = *stored.Sub(0, zero);
  if (!unicode) return AnsiName(narrow);
  // A Unicode name without the zero byte is plain UTF-8.
  if (zero == stored.size()) {
    return Utf8ToValidUtf16(std::string_view(reinterpret_cast<const char*>(narrow.data()), zero));
  }
  std::u16string wide = DecodeWide(narrow, *stored.From(zero + 1));
  return wide.empty() ? AnsiName(narrow) : wide;
}

}  // namespace ambrel
