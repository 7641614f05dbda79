// Archives: cabinet, MIDAS, 7-Zip, ZIP (and the Office Open XML documents
// built on it), RAR, JAR.
#include <string_view>

#include "deepscan/carve/carve_units.h"

namespace ambrel {
namespace {

using namespace std::string_view_literals;

constexpr std::uint32_t kLocalHeader = 0x04034B50u;
constexpr std::uint32_t kCentralHeader = 0x02014B50u;
constexpr std::uint32_t kEndRecord = 0x06054B50u;
constexpr std::uint32_t kZip64EndRecord = 0x06064B50u;
constexpr std::uint32_t kZip64Locator = 0x07064B50u;
constexpr std::uint32_t kSpanMarker = 0x30304B50u;   // "PK00" before the first entry
constexpr std::uint16_t kDataDescriptorFlag = 0x0008;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFFu;
// Office Open XML: the first two entries are [Content_Types].xml and the
// package relationships; the parts that tell the document come after.
constexpr std::uint32_t kFirstTellingEntry = 3;

constexpr std::uint8_t kRarMarker = 0x72, kRarFile = 0x74, kRarService = 0x7A, kRarEnd = 0x7B;
constexpr std::uint16_t kRarLongBlock = 0x8000;
constexpr std::uint16_t kRarMinHeader = 7;

void RefineOoxmlType(CarveState& s, const ByteCursor& w, std::uint16_t nameLength) {
  auto name = w.Sub(30, std::min<std::uint64_t>(nameLength, w.size() > 30 ? w.size() - 30 : 0));
  if (!name) return;
  const std::string_view text(reinterpret_cast<const char*>(name->data()), name->size());
  if (text.starts_with("word/")) s.type = 37;
  else if (text.starts_with("ppt/")) s.type = 89;
  else if (text.starts_with("xl/")) s.type = 38;
}

// The record walk: local headers and their data, central headers, the
// end record. An entry whose size its header does not tell (a data
// descriptor, zip64) leaves the size unknown.
int ZipWalk(CarveState& s, const CarveInput& in, bool ooxml) {
  for (;;) {
    ByteCursor w;
    const int r = Window(s, in, s.offset, 512, w);
    if (r == kRuleInvalid) return kRuleNone;  // runs past the scanned area
    if (r != kWindowReady) return r;
    const auto signature = w.U32(0);
    if (!signature) return kRuleNone;
    if (*signature == kLocalHeader) {
      if (!w.Contains(0, 30)) return kRuleNone;
      const std::uint16_t flags = w.UncheckedU16(6);
      const std::uint32_t packed = w.UncheckedU32(18), unpacked = w.UncheckedU32(22);
      if ((flags & kDataDescriptorFlag) || packed == kZip64Marker || unpacked == kZip64Marker)
        return kRuleNone;
      const std::uint16_t name = w.UncheckedU16(26), extra = w.UncheckedU16(28);
      ++s.counter;
      if (ooxml && s.counter >= kFirstTellingEntry) RefineOoxmlType(s, w, name);
      s.offset += 30 + std::uint64_t{name} + extra + packed;
    } else if (*signature == kCentralHeader) {
      if (!w.Contains(0, 46)) return kRuleNone;
      s.offset += 46 + std::uint64_t{w.UncheckedU16(28)} + w.UncheckedU16(30) + w.UncheckedU16(32);
    } else if (*signature == kEndRecord) {
      const auto comment = w.U16(20);
      if (!comment) return kRuleNone;
      return Sized(s, s.offset + 22 + *comment);
    } else if (*signature == kSpanMarker && s.offset == 0) {
      s.offset = 4;
    } else if (*signature == kZip64EndRecord || *signature == kZip64Locator) {
      return kRuleNone;
    } else {
      return Invalid(s);
    }
  }
}

}  // namespace

bool IsCabinet(const ByteCursor& s) {
  return (s.Matches(0, "MSCF"sv) && s.U32(4) == 0u) || s.Matches(0, "ISc("sv);
}

bool IsMidasMcb(const ByteCursor& s) { return s.Matches(0, "MCVL"sv); }

bool Is7z(const ByteCursor& s) { return s.Matches(0, "7z\xBC\xAF"sv) && s.U8(4) == 0x27; }

bool IsZip(const ByteCursor& s) {
  return s.Matches(0, "PK\x03\x04"sv) || s.Matches(0, "PK00"sv) || s.Matches(0, "PK\x05\x06"sv);
}

bool IsRar(const ByteCursor& s) { return s.Matches(0, "Rar!\x1A\x07\x00"sv); }

bool IsJar(const ByteCursor& s) { return s.Matches(0, "\x5F\x27\xA8\x89"sv); }

int ZipRule(CarveState& s, const CarveInput& in) { return ZipWalk(s, in, false); }

int OfficeOpenXmlRule(CarveState& s, const CarveInput& in) { return ZipWalk(s, in, true); }

// The block chain: every block by its header size plus, for long blocks,
// the data size after it; the end-of-archive block ends the file.
int RarRule(CarveState& s, const CarveInput& in) {
  for (;;) {
    ByteCursor w;
    const int r = Window(s, in, s.offset, 16, w);
    if (r == kRuleInvalid) return kRuleNone;
    if (r != kWindowReady) return r;
    if (!w.Contains(0, 11)) return kRuleNone;
    const std::uint8_t type = w.UncheckedU8(2);
    const std::uint16_t flags = w.UncheckedU16(3), header = w.UncheckedU16(5);
    if (header < kRarMinHeader) return Invalid(s);
    if (type == kRarEnd && header == kRarMinHeader) return Sized(s, s.offset + kRarMinHeader);
    const bool known = (type >= kRarMarker && type <= kRarFile) || type == kRarService || type == kRarEnd;
    if (!known) return Invalid(s);
    s.offset += header;
    if (flags & kRarLongBlock) s.offset += w.UncheckedU32(7);
  }
}

}  // namespace ambrel
