// Documents: compound files (Word, Excel, PowerPoint...), Access, compiled
// and Windows help, PDF, Publisher, MHT, RTF, PostScript, AutoCAD, Visual
// Studio files, XML and HTML.
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <string>

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

// Access (Jet and ACE) databases are whole pages: 2,048 bytes when the
// version byte of the header page is 0 (Jet 3), 4,096 after. Page 0 is the
// header page (00 01 00 00); every other page starts with its type (data,
// table definition, index, usage map; 0x08 on ACE files) and the byte 01.
// The file ends before the first page that does not.
constexpr std::uint64_t kJetVersionAt = 0x14;
constexpr std::uint64_t kJetSmallPage = 2048, kJetPage = 4096;
constexpr std::uint32_t kJetMinPages = 2;

bool IsJetPage(const ByteCursor& w, std::uint64_t at) {
  const std::uint8_t type = w.UncheckedU8(at);
  return w.UncheckedU8(at + 1) == 0x01 && ((type >= 0x01 && type <= 0x05) || type == 0x08);
}

std::optional<RuleResult> JetStep(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  std::uint64_t pos = 0;
  if (s.offset == 0) {
    if (!w.Contains(0, kJetSmallPage)) {
      need = static_cast<std::uint32_t>(kJetSmallPage);
      return std::nullopt;
    }
    if (!w.Matches(0, "\x00\x01\x00\x00"sv) || !(IsAccessMdb(w) || IsAccessAccdb(w))) return Invalid(s);
    s.mark = w.UncheckedU8(kJetVersionAt) == 0 ? kJetSmallPage : kJetPage;
    s.counter = 0;
  }
  const std::uint64_t page = s.mark;
  if (page != kJetSmallPage && page != kJetPage) return Invalid(s);
  for (;; pos += page, ++s.counter) {
    if (!w.Contains(pos, page)) {
      need = static_cast<std::uint32_t>(page);
      break;
    }
    if (s.offset + pos != 0 && !IsJetPage(w, pos)) {
      if (s.counter < kJetMinPages) return Invalid(s);
      return Sized(s, s.offset + pos);
    }
  }
  s.offset += pos;
  return std::nullopt;
}

// PDF: the file ends at an "%%EOF" that a "startxref" names the
// cross-reference section before (a table "xref", or an "N G obj" stream
// when it lies in the window); an incremental update after it moves the
// end on to its own "%%EOF". Each window is searched with kPdfBack bytes
// of the one before (the startxref before an %%EOF) and kPdfAhead bytes
// kept for the next (what follows an %%EOF).
constexpr std::uint64_t kPdfBack = 1024;
constexpr std::uint64_t kPdfAhead = 64;
// Searched this far past a sound end without another: that end is taken.
constexpr std::uint64_t kPdfMaxAfterEnd = 0x4000000;
// Searched this far without any sound end: the size is not told.
constexpr std::uint64_t kPdfMaxSearch = 0x40000000;
constexpr std::uint8_t kPdfStart = 0, kPdfSearch = 1;

bool IsPdfBlank(std::uint8_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0; }
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// Digits, blanks, digits, blanks and "obj" at `at`.
bool IsObjectHeader(const ByteCursor& w, std::uint64_t at) {
  for (int part = 0; part < 2; ++part) {
    std::uint64_t digits = 0;
    while (w.U8(at) && IsDigit(*w.U8(at)) && digits < 12) ++at, ++digits;
    if (digits == 0) return false;
    std::uint64_t blanks = 0;
    while (w.U8(at) && (*w.U8(at) == ' ' || *w.U8(at) == '\r' || *w.U8(at) == '\n')) ++at, ++blanks;
    if (blanks == 0) return false;
  }
  return w.Matches(at, "obj");
}

// The offset "startxref" names before the %%EOF at `p`.
std::optional<std::uint64_t> StartXrefBefore(const ByteCursor& w, std::uint64_t p) {
  std::uint64_t at = p;
  auto back = [&](auto pred) {
    std::uint64_t n = 0;
    while (at > 0 && pred(w.UncheckedU8(at - 1)) && n < 64) --at, ++n;
    return n;
  };
  back(IsPdfBlank);
  const std::uint64_t digitsEnd = at;
  if (back(IsDigit) == 0) return std::nullopt;
  std::uint64_t value = 0;
  for (std::uint64_t i = at; i < digitsEnd; ++i) value = value * 10 + (w.UncheckedU8(i) - '0');
  if (back(IsPdfBlank) == 0 || at < 9 || !w.Matches(at - 9, "startxref")) return std::nullopt;
  return value;
}

// What follows a sound %%EOF: an update (objects, a cross-reference
// section or trailer) or the end of the file.
bool UpdateFollows(const ByteCursor& w, std::uint64_t at) {
  std::uint64_t blanks = 0;
  while (w.U8(at) && IsPdfBlank(*w.U8(at)) && *w.U8(at) != 0 && blanks < kPdfAhead / 2) ++at, ++blanks;
  return IsObjectHeader(w, at) || w.Matches(at, "xref") || w.Matches(at, "trailer") ||
         w.Matches(at, "startxref");
}

// Words: phase; mark, the last sound end (0: none yet).
std::optional<RuleResult> PdfStep(CarveState& s, const ByteCursor& w, bool last, std::uint32_t& need) {
  if (s.phase == kPdfStart) {
    if (!IsPdf(w)) return Invalid(s);
    s.phase = kPdfSearch;
  }
  const std::uint64_t lo = s.offset == 0 ? 0 : kPdfBack;
  const std::uint64_t hi = last ? w.size() : (w.size() > kPdfAhead ? w.size() - kPdfAhead : 0);
  if (hi <= lo + kPdfBack && !last) {
    need = static_cast<std::uint32_t>(lo + 2 * kPdfBack + kPdfAhead);
    return std::nullopt;
  }
  // A PDF header at a sector start is another file: this one was cut.
  std::uint64_t stop = hi;
  for (std::uint64_t at = (512 - s.offset % 512) % 512; at < hi; at += 512) {
    if (at >= lo && s.offset + at > 0 && w.Matches(at, "%PDF-")) {
      stop = at;
      break;
    }
  }
  const std::uint8_t* d = w.data();
  std::uint64_t p = lo;
  while (p + 5 <= stop) {
    const void* hit = memmem(d + p, static_cast<std::size_t>(stop - p), "%%EOF", 5);
    if (!hit) break;
    p = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(hit) - d);
    std::uint64_t end = p + 5;
    if (end < w.size() && d[end] == '\r') ++end;
    if (end < w.size() && d[end] == '\n') ++end;
    const auto xref = StartXrefBefore(w, p);
    bool sound = xref && *xref < s.offset + p;
    if (sound && *xref >= s.offset) {
      const std::uint64_t at = *xref - s.offset;
      sound = w.Matches(at, "xref") || IsObjectHeader(w, at);
    }
    if (sound) {
      s.mark = s.offset + end;
      if (!UpdateFollows(w, end)) return Sized(s, s.mark);
    }
    p += 5;
  }
  if (stop < hi) return s.mark ? Sized(s, s.mark) : Invalid(s);
  const std::uint64_t searched = s.offset + hi;
  if (last) return s.mark ? Sized(s, s.mark) : RuleResult::kNone;
  if (s.mark && searched - s.mark > kPdfMaxAfterEnd) return Sized(s, s.mark);
  if (!s.mark && searched > kPdfMaxSearch) return RuleResult::kNone;
  s.offset += hi - kPdfBack;
  need = static_cast<std::uint32_t>(2 * kPdfBack + kPdfAhead);
  return std::nullopt;
}

// MHT (MIME multipart): a header of lines up to the first empty line,
// whose Content-Type is multipart and names the boundary; the parts, each
// led by a line "--boundary"; the file ends with the line
// "--boundary--" (and its line break).
constexpr std::uint64_t kMimeHeaderLimit = 0x10000;
constexpr std::size_t kMimeBoundaryLimit = 200;  // 70 by the rules, longer by some writers

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Where `needle` (lower case) begins in `text`, ignoring case; npos if nowhere.
std::size_t FindNoCase(std::string_view text, std::string_view needle) {
  const auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                              [](char a, char b) { return Lower(a) == b; });
  return it == text.end() ? std::string_view::npos : static_cast<std::size_t>(it - text.begin());
}

// The boundary named in the header; empty when none can be read.
std::string MimeBoundary(std::string_view header) {
  const std::size_t at = FindNoCase(header, "boundary=");
  if (at == std::string_view::npos) return {};
  std::string_view rest = header.substr(at + 9);
  std::size_t length = 0;
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    length = rest.find('"');
    if (length == std::string_view::npos) return {};
  } else {
    while (length < rest.size() && rest[length] > ' ' && rest[length] < 0x7F && rest[length] != ';') ++length;
  }
  if (length == 0 || length > kMimeBoundaryLimit) return {};
  for (std::size_t i = 0; i < length; ++i)
    if (rest[i] < ' ' || rest[i] >= 0x7F) return {};
  return std::string(rest.substr(0, length));
}

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
RuleResult CompoundFileRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const WindowRead r = GrowingWindow(s, in, 0, w);
  if (r != WindowRead::kReady) return NotReady(r);
  if (w.size() < 512 || !IsCompoundFile(w)) return Invalid(s);
  const SizeProbe probe = CompoundFileSize(w.span());
  if (probe.result == kWalkNeedMore) return GrowWindow(s, in, 0);
  if (probe.result != kWalkOk) return Invalid(s);
  if (probe.typeCode != 0) s.type = probe.typeCode;
  return Sized(s, probe.size);
}

RuleResult AccessRule(CarveState& s, const CarveInput& in) {
  return WalkRecords(s, in, JetStep, static_cast<std::uint32_t>(kJetSmallPage));
}

RuleResult CompiledHtmlRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const WindowRead r = Window(s, in, 0, 256, w);
  if (r != WindowRead::kReady) return NotReady(r);
  auto guids = w.Sub(24, kItsfGuids.size());
  if (!guids || !std::equal(kItsfGuids.begin(), kItsfGuids.end(), guids->data())) return Invalid(s);
  const auto size = w.U32(104);
  return size ? Sized(s, *size) : Invalid(s);
}

RuleResult WindowsHelpRule(CarveState& s, const CarveInput& in) {
  ByteCursor w;
  const WindowRead r = Window(s, in, 0, 256, w);
  if (r != WindowRead::kReady) return NotReady(r);
  const auto size = w.U32(12), first = w.U32(4);
  if (!size || !first || *size < 512 || *size < *first) return Invalid(s);
  return Sized(s, *size);
}

RuleResult PdfRule(CarveState& s, const CarveInput& in) { return WalkRecords(s, in, PdfStep, 4096); }

int MhtExtent(const ByteCursor& head, std::uint64_t& size) {
  const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
  std::size_t headerEnd = text.find("\r\n\r\n");
  const std::size_t lfEnd = text.find("\n\n");
  if (lfEnd < headerEnd) headerEnd = lfEnd;
  if (headerEnd == std::string_view::npos)
    return head.size() < kMimeHeaderLimit ? kWalkNeedMore : kWalkMalformed;
  if (headerEnd > kMimeHeaderLimit) return kWalkMalformed;
  const std::string_view header = text.substr(0, headerEnd);
  // A single-part message (a mail saved alone) states no end.
  if (FindNoCase(header, "multipart/") == std::string_view::npos) return kWalkUnknown;
  const std::string boundary = MimeBoundary(header);
  if (boundary.empty()) return kWalkMalformed;
  const std::string close = "\n--" + boundary + "--";
  const std::string_view body = text.substr(headerEnd);
  const auto it = std::search(body.begin(), body.end(), std::boyer_moore_horspool_searcher(close.begin(), close.end()));
  if (it == body.end()) return kWalkNeedMore;
  std::size_t end = headerEnd + static_cast<std::size_t>(it - body.begin()) + close.size();
  // The line break that ends the closing line belongs to the file.
  if (end < text.size() && text[end] == '\r') {
    if (end + 1 >= text.size()) return kWalkNeedMore;
    if (text[end + 1] == '\n') end += 2;
  } else if (end < text.size() && text[end] == '\n') {
    end += 1;
  } else if (end >= text.size()) {
    return kWalkNeedMore;
  }
  size = end;
  return kWalkOk;
}

// The whole message is looked at: the window grows until it holds the
// closing boundary.
RuleResult MhtRule(CarveState& s, const CarveInput& in) {
  if (s.endPending) return SizedIfPresent(s, in, s.size);
  ByteCursor w;
  const WindowRead r = GrowingWindow(s, in, 0, w);
  if (r != WindowRead::kReady) return NotReady(r, RuleResult::kNone);
  std::uint64_t size = 0;
  switch (MhtExtent(w, size)) {
    case kWalkOk: return SizedIfPresent(s, in, size);
    case kWalkMalformed: return Invalid(s);
    case kWalkNeedMore: return GrowWindow(s, in, 0);
    default: return RuleResult::kNone;
  }
}

}  // namespace ambrel
