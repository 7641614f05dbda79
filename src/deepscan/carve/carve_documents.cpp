// Documents: compound files (Word, Excel, PowerPoint...), Access, compiled
// and Windows help, PDF, Publisher, MHT, RTF, PostScript, AutoCAD, Visual
// Studio files, XML and HTML.
#include <algorithm>
#include <array>

#include "deepscan/carve/carve_units.h"
#include "preview/compound_probe.h"

namespace ambrel {
namespace {

using namespace std::string_view_literals;

constexpr std::uint32_t kMaxHtmlLineBreaks = 10;

// The two GUIDs of the ITSF header, as stored (little-endian fields).
constexpr std::array<std::uint8_t, 32> kItsfGuids = {
    0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC,
    0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};

bool U32Is(const ByteCursor& s, std::uint64_t at, std::string_view text) { return s.Matches(at, text); }

}  // namespace

bool IsCompoundFile(const ByteCursor& s) { return s.Matches(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv); }

bool IsOfficeOpenXml(const ByteCursor& s) {
  return s.Matches(0, "PK\x03\x04"sv) && s.Matches(38, "_Types].xml"sv);
}

bool IsAccessMdb(const ByteCursor& s) { return s.Matches(4, "Standard J"sv); }

bool IsAccessAccdb(const ByteCursor& s) {
  return s.U32(0) == 0x100u && s.Matches(4, "Standard ACE DB"sv);
}

bool IsCompiledHtml(const ByteCursor& s) { return s.Matches(0, "ITSF"sv) && s.U8(8) == 0x60; }

bool IsPdf(const ByteCursor& s) { return s.Matches(0, "%PDF-1."sv); }

bool IsWindowsHelp(const ByteCursor& s) {
  const auto magic = s.U32(0);
  return magic == 0x00035F3Fu || magic == 0x00024E4Cu;
}

bool IsPublisher(const ByteCursor& s) { return s.U32(0) == 0x505BC301u; }

bool IsMht(const ByteCursor& s) {
  return (s.Matches(0, "\xEF\xBB\xBFM"sv) && U32Is(s, 4, "IME-")) ||
         (s.Matches(0, "MIME"sv) && U32Is(s, 4, "-Ver")) ||
         (s.Matches(0, "From"sv) && s.U8(4) == ':');
}

bool IsRtf(const ByteCursor& s) { return s.Matches(3, "{\\rtf1"sv) || s.Matches(0, "{\\rtf1"sv); }

bool IsPostScriptAi(const ByteCursor& s) { return s.Matches(0, "%!PS"sv) && U32Is(s, 4, "-Ado"); }

bool IsAutoCad(const ByteCursor& s) { return s.Matches(0, "AC10"sv); }

bool IsVisualStudioDsw(const ByteCursor& s) { return s.Matches(0, "Micr"sv) && U32Is(s, 28, "orks"); }

bool IsVisualStudioSln(const ByteCursor& s) {
  return (s.Matches(0, "Micr"sv) && U32Is(s, 24, "Solu")) ||
         (s.Matches(0, "\xEF\xBB\xBF\x0D"sv) && U32Is(s, 28, " Sol"));
}

bool IsXamlXml(const ByteCursor& s) { return s.Matches(0, "<Ui "sv) && U32Is(s, 4, "xmln"); }

bool IsMarkupStart(const ByteCursor& s) {
  return s.Matches(0, "<?xml ve"sv) || s.Matches(0, "<HEAD>"sv) || s.Matches(0, "<script"sv) ||
         s.Matches(0, "\xFF\xFE<\x00"sv) || s.Matches(0, "\xEF\xBB\xBF<"sv);
}

// Up to ten CR / LF bytes, then one of the openings of an HTML or XML page.
bool IsHtmlAfterLineBreaks(const ByteCursor& s) {
  std::uint32_t at = 0;
  while (at <= kMaxHtmlLineBreaks && (s.U8(at) == '\r' || s.U8(at) == '\n')) ++at;
  if (at > kMaxHtmlLineBreaks || s.U8(at) != '<') return false;
  return s.Matches(at, "<html"sv) || s.Matches(at, "<HTML"sv) || s.Matches(at, "<!doctyp"sv) ||
         s.Matches(at, "<!DOCTYP"sv) || s.Matches(at, "<!--"sv) || s.Matches(at, "<?xml\0"sv) ||
         s.Matches(at, "<xs:schema"sv);
}

// The allocation table gives the last sector in use; the directory names
// the document type (Word, Excel, PowerPoint, Visio, Project).
int CompoundFileRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const int r = GrowingWindow(s, in, 0, w);
  if (r != kWindowReady) return r;
  if (w.size() < 512 || !IsCompoundFile(w)) return Invalid(s);
  const SizeProbe probe = CompoundFileSize(w.span());
  if (probe.result == kRulePending) return GrowWindow(s, in, 0);
  if (probe.result != kRuleSized) return Invalid(s);
  if (probe.typeCode != 0) s.type = probe.typeCode;
  return Sized(s, probe.size);
}

int CompiledHtmlRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const int r = Window(s, in, 0, 256, w);
  if (r != kWindowReady) return r;
  auto guids = w.Sub(24, kItsfGuids.size());
  if (!guids || !std::equal(kItsfGuids.begin(), kItsfGuids.end(), guids->data())) return Invalid(s);
  const auto size = w.U32(104);
  return size ? Sized(s, *size) : Invalid(s);
}

int WindowsHelpRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const int r = Window(s, in, 0, 256, w);
  if (r != kWindowReady) return r;
  const auto size = w.U32(12), first = w.U32(4);
  if (!size || !first || *size < 512 || *size < *first) return Invalid(s);
  return Sized(s, *size);
}

}  // namespace ambrel
