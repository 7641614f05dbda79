// Text documents: plain text (UTF-8, GBK, UTF-16 after a byte-order mark),
// HTML and XML pages, RTF. A text file ends at the first character that is
// not text; a page whose root element closes ends there (with the blanks
// after it); an RTF document ends at the brace that closes its first one.
#include <algorithm>
#include <array>
#include <string_view>

#include "deepscan/carve/carve_units.h"

namespace ambrel {
namespace {

using namespace std::string_view_literals;

constexpr std::uint32_t kTextType = 161, kHtmlType = 79, kXmlType = 163;
// A text sector holds at least this many characters before any zero bytes.
constexpr std::size_t kMinSectorText = 24;
constexpr std::size_t kMinDistinctBytes = 6;
constexpr std::size_t kSector = 512;
// Text windows grow up to this size; a longer run keeps its gap size.
constexpr std::uint64_t kMaxTextWindow = 0x2000000;
constexpr std::size_t kMaxTagName = 32;
constexpr std::size_t kMaxTagText = 96;

enum class Encoding : std::uint8_t { kAscii, kUtf8, kGbk, kUtf16Le, kUtf16Be };

// One decoded character: its code (a Unicode code point, or the GBK pair)
// and its length in bytes; length 0: not text; `more`: the data ends
// inside it.
struct Char {
  std::uint32_t code = 0;
  unsigned length = 0;
  bool more = false;
};

bool IsTextControl(std::uint32_t c) { return c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsTextCode(std::uint32_t c) {
  if (c < 0x20) return IsTextControl(c);
  if (c == 0x7F || (c >= 0x80 && c < 0xA0)) return false;
  return c != 0xFFFE && c != 0xFFFF;
}

Char Utf8At(ByteSpan d, std::size_t at) {
  const std::uint8_t b = d[at];
  if (b < 0x80) return {b, IsTextCode(b) ? 1u : 0u};
  unsigned n = 0;
  std::uint32_t code = 0, least = 0;
  if ((b & 0xE0) == 0xC0) n = 2, code = b & 0x1F, least = 0x80;
  else if ((b & 0xF0) == 0xE0) n = 3, code = b & 0x0F, least = 0x800;
  else if ((b & 0xF8) == 0xF0) n = 4, code = b & 0x07, least = 0x10000;
  else return {};
  for (unsigned i = 1; i < n; ++i) {
    if (at + i >= d.size()) return {0, 0, true};
    if ((d[at + i] & 0xC0) != 0x80) return {};
    code = (code << 6) | (d[at + i] & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000) || !IsTextCode(code)) return {};
  return {code, n};
}

Char GbkAt(ByteSpan d, std::size_t at) {
  const std::uint8_t b = d[at];
  if (b < 0x80) return {b, IsTextCode(b) ? 1u : 0u};
  if (b == 0x80 || b == 0xFF) return {};
  if (at + 1 >= d.size()) return {0, 0, true};
  const std::uint8_t t = d[at + 1];
  if (t < 0x40 || t == 0x7F || t == 0xFF) return {};
  return {0x10000u | (std::uint32_t{b} << 8) | t, 2};
}

Char Utf16At(ByteSpan d, std::size_t at, bool big) {
  auto unit = [&](std::size_t i) -> std::uint32_t {
    return big ? (std::uint32_t{d[i]} << 8) | d[i + 1] : (std::uint32_t{d[i + 1]} << 8) | d[i];
  };
  if (at + 2 > d.size()) return {0, 0, true};
  const std::uint32_t u = unit(at);
  if (u >= 0xDC00 && u < 0xE000) return {};
  if (u >= 0xD800 && u < 0xDC00) {
    if (at + 4 > d.size()) return {0, 0, true};
    const std::uint32_t low = unit(at + 2);
    if (low < 0xDC00 || low >= 0xE000) return {};
    return {0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), 4};
  }
  return {u, IsTextCode(u) ? 2u : 0u};
}

// Plain 8-bit text is ASCII until its first other byte, which decides
// between UTF-8 (a valid sequence) and GBK.
Char CharAt(ByteSpan d, std::size_t at, Encoding& enc) {
  switch (enc) {
    case Encoding::kUtf16Le: return Utf16At(d, at, false);
    case Encoding::kUtf16Be: return Utf16At(d, at, true);
    case Encoding::kUtf8: return Utf8At(d, at);
    case Encoding::kGbk: return GbkAt(d, at);
    case Encoding::kAscii: break;
  }
  if (d[at] < 0x80) return Utf8At(d, at);
  const Char utf8 = Utf8At(d, at);
  if (utf8.more) return utf8;
  enc = utf8.length ? Encoding::kUtf8 : Encoding::kGbk;
  return utf8.length ? utf8 : GbkAt(d, at);
}

// The byte-order mark: its length and the encoding it names.
std::size_t ByteOrderMark(ByteSpan d, Encoding& enc) {
  const ByteCursor c(d);
  if (c.Matches(0, "\xEF\xBB\xBF"sv)) return enc = Encoding::kUtf8, 3;
  if (c.Matches(0, "\xFF\xFE"sv)) return enc = Encoding::kUtf16Le, 2;
  if (c.Matches(0, "\xFE\xFF"sv)) return enc = Encoding::kUtf16Be, 2;
  enc = Encoding::kAscii;
  return 0;
}

bool IsBlank(std::uint32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

char LowerAscii(std::uint32_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c < 0x80 ? static_cast<char>(c) : '\x7F';
}

bool IsHtmlRoot(std::string_view name) {
  static constexpr std::array<std::string_view, 16> kNames = {
      "html", "head", "body", "script", "table", "div", "p", "title",
      "meta", "style", "span", "form", "center", "font", "frameset", "iframe"};
  return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

// Follows the tags of a page: the name of its root element and where the
// root closes.
class MarkupTracker {
 public:
  // Feeds one character; true when it is the '>' that closes the root.
  bool Feed(std::uint32_t c) {
    if (!inTag_) {
      if (c == '<') {
        inTag_ = true;
        tag_.clear();
      }
      return false;
    }
    if (c != '>') {
      if (tag_.size() < kMaxTagText) tag_.push_back(LowerAscii(c));
      return false;
    }
    inTag_ = false;
    return EndTag();
  }
  bool Started() const { return !root_.empty(); }
  bool Html() const { return root_ == "html" || doctypeHtml_; }
  bool XmlProlog() const { return xmlProlog_; }
  std::string_view Root() const { return root_; }

 private:
  bool EndTag() {
    if (tag_.empty()) return false;
    if (tag_[0] == '?') {
      if (tag_.starts_with("?xml")) xmlProlog_ = true;
      return false;
    }
    if (tag_[0] == '!') {
      if (tag_.starts_with("!doctype html")) doctypeHtml_ = true;
      return false;
    }
    const bool closing = tag_[0] == '/';
    const std::string_view body = std::string_view(tag_).substr(closing ? 1 : 0);
    const std::size_t nameEnd = std::min(body.find_first_of(" \t\r\n/"), body.size());
    const std::string_view name = body.substr(0, std::min(nameEnd, kMaxTagName));
    if (name.empty()) return false;
    if (root_.empty()) {
      if (closing) return false;
      root_ = std::string(name);
    }
    if (name != root_) return false;
    const bool selfClosing = !closing && tag_.back() == '/';
    if (closing) return --depth_ <= 0;
    if (selfClosing) return depth_ <= 0;
    ++depth_;
    return false;
  }

  bool inTag_ = false;
  bool xmlProlog_ = false, doctypeHtml_ = false;
  int depth_ = 0;
  std::string tag_;
  std::string root_;
};

struct TextMeasure {
  RuleResult result = RuleResult::kInvalid;
  std::uint64_t size = 0;
  std::uint32_t type = kTextType;
};

// The text at the start of `d`; `complete`: nothing follows `d`.
TextMeasure MeasureText(ByteSpan d, bool complete) {
  Encoding enc = Encoding::kAscii;
  std::size_t at = ByteOrderMark(d, enc);
  MarkupTracker markup;
  bool markupFile = false, seenText = false, rootClosed = false;
  TextMeasure m;
  auto typeOf = [&] {
    if (!markupFile || !markup.Started()) return markupFile && markup.XmlProlog() ? kXmlType : kTextType;
    if (markup.Html() || IsHtmlRoot(markup.Root())) return kHtmlType;
    return kXmlType;
  };
  const std::size_t first = at;
  while (at < d.size()) {
    Char ch = CharAt(d, at, enc);
    if (ch.more) break;
    // A byte-order mark at a sector start opens the next file.
    if (ch.code == 0xFEFF && at > first && at % kSector == 0) ch.length = 0;
    if (ch.length == 0) {
      // The first character that is not text ends the file; a page whose
      // root opened but never closed was cut (an HTML page may omit it).
      m.type = typeOf();
      if (at == 0) return m;
      if (markupFile && m.type == kXmlType && markup.Started() && !rootClosed) return m;
      m.result = RuleResult::kSized;
      m.size = at;
      return m;
    }
    if (rootClosed) {
      // The blanks after the root's end belong to the page.
      if (!IsBlank(ch.code)) break;
    } else {
      if (!seenText && !IsBlank(ch.code)) {
        seenText = true;
        markupFile = ch.code == '<';
      }
      if (markupFile && markup.Feed(ch.code)) {
        const bool structural = typeOf() == kXmlType || markup.Html();
        if (structural) rootClosed = true;
      }
    }
    at += ch.length;
  }
  m.type = typeOf();
  if (rootClosed && at < d.size()) {
    m.result = RuleResult::kSized;
    m.size = at;
    return m;
  }
  if (!complete) {
    m.result = RuleResult::kPending;
    return m;
  }
  // The text runs to the end of the scanned area.
  if (markupFile && m.type == kXmlType && markup.Started() && !rootClosed) return m;
  m.result = RuleResult::kSized;
  m.size = d.size();
  return m;
}

// RTF: groups in braces; a backslash starts a control word (letters, an
// optional number and one blank) or a control symbol; \binN is followed
// by N bytes of binary data.
TextMeasure MeasureRtf(ByteSpan d, bool complete) {
  TextMeasure m;
  m.type = 164;
  const ByteCursor c(d);
  std::size_t at = c.Matches(0, "\xEF\xBB\xBF"sv) ? 3 : 0;
  if (!c.Matches(at, "{\\rtf"sv)) return m;
  std::int64_t depth = 0;
  while (at < d.size()) {
    const std::uint8_t b = d[at];
    if (b == '{') {
      ++depth;
      ++at;
    } else if (b == '}') {
      ++at;
      if (--depth == 0) {
        // A line break after the last brace belongs to the file.
        if (at < d.size() && d[at] == '\r') ++at;
        if (at < d.size() && d[at] == '\n') ++at;
        if (at >= d.size() && !complete) break;
        m.result = RuleResult::kSized;
        m.size = at;
        return m;
      }
    } else if (b == '\\') {
      std::size_t i = at + 1;
      std::size_t letters = i;
      while (letters < d.size() && ((d[letters] | 0x20) >= 'a' && (d[letters] | 0x20) <= 'z')) ++letters;
      if (letters == i) {
        at = i + 1;  // a control symbol: \{ \} \\ \' ...
        continue;
      }
      const std::string_view word(reinterpret_cast<const char*>(d.data() + i), letters - i);
      std::size_t j = letters;
      bool negative = false;
      if (j < d.size() && d[j] == '-') negative = true, ++j;
      std::uint64_t number = 0;
      std::size_t digits = 0;
      while (j < d.size() && d[j] >= '0' && d[j] <= '9' && digits < 10) {
        number = number * 10 + (d[j] - '0');
        ++j;
        ++digits;
      }
      if (j >= d.size()) break;
      if (d[j] == ' ') ++j;
      at = j;
      if (word == "bin" && !negative) at += number;
    } else if (b < 0x20 && !IsTextControl(b)) {
      return m;  // not RTF any more: the file was cut
    } else if (b == 0x7F) {
      return m;
    } else {
      ++at;
    }
  }
  if (complete) m.result = RuleResult::kNone;
  else m.result = RuleResult::kPending;
  return m;
}

// Bytes below 0x80 that are text.
const std::array<bool, 128>& AsciiText() {
  static const std::array<bool, 128> table = [] {
    std::array<bool, 128> t{};
    for (std::uint32_t c = 0; c < 128; ++c) t[c] = IsTextCode(c);
    return t;
  }();
  return table;
}

// The text run of a sector from its first byte; `whole`: it fills the sector.
std::size_t SectorTextRun(ByteSpan d, bool& whole) {
  const auto& ascii = AsciiText();
  Encoding enc = Encoding::kAscii;
  std::size_t at = 0;
  whole = false;
  while (at < d.size()) {
    // Runs of ASCII text, then one character of any other kind.
    while (at < d.size() && d[at] < 0x80 && ascii[d[at]]) ++at;
    if (at >= d.size()) break;
    const Char ch = CharAt(d, at, enc);
    if (ch.more) {
      whole = true;  // a character carried on into the next sector
      return at;
    }
    if (ch.length == 0) return at;
    at += ch.length;
  }
  whole = true;
  return at;
}

// Text found without any mark or markup: a whole file ends inside a sector
// whose rest is zeros (what is written past a file's last byte); a run
// that ends otherwise is a piece of a longer text whose next sector was
// reused, not a file.
TextMeasure MeasurePlainText(ByteSpan d, bool complete) {
  TextMeasure m = MeasureText(d, complete);
  if (m.result != RuleResult::kSized || m.type != kTextType || m.size == d.size()) return m;
  const std::size_t sectorEnd = (m.size + kSector - 1) / kSector * kSector;
  if (m.size % kSector == 0 || sectorEnd > d.size()) {
    if (sectorEnd > d.size() && !complete) m.result = RuleResult::kPending;
    else m.result = RuleResult::kInvalid;
    return m;
  }
  for (std::size_t i = m.size; i < sectorEnd; ++i) {
    if (d[i] != 0) {
      m.result = RuleResult::kInvalid;
      return m;
    }
  }
  return m;
}

using MeasureFn = TextMeasure (*)(ByteSpan, bool);

RuleResult MeasuredRule(CarveState& s, const CarveInput& in, MeasureFn measure) {
  ByteCursor w;
  const WindowRead r = GrowingWindow(s, in, 0, w);
  if (r != WindowRead::kReady) return NotReady(r);
  const bool complete = s.fileLba * 512 + w.size() >= in.AreaEndByte();
  const TextMeasure m = measure(w.span(), complete);
  switch (m.result) {
    case RuleResult::kSized:
      s.type = m.type;
      return Sized(s, m.size);
    case RuleResult::kPending:
      if (w.size() >= kMaxTextWindow) return RuleResult::kNone;
      return GrowWindow(s, in, 0);
    case RuleResult::kInvalid:
      return Invalid(s);
    case RuleResult::kNone:
      break;
  }
  return RuleResult::kNone;
}

}  // namespace

bool IsPlainText(const ByteCursor& s) {
  // Most sectors fail on their first bytes: text starts with a few ASCII
  // letters, digits, blanks or marks, or with characters of other scripts.
  const auto& ascii = AsciiText();
  for (std::size_t i = 0; i < 16; ++i) {
    const std::uint8_t b = s.UncheckedU8(i);
    if (b < 0x80 && !ascii[b]) return false;
  }
  bool whole = false;
  const std::size_t run = SectorTextRun(s.span().first(kSector), whole);
  if (run < kMinSectorText) return false;
  // A short file: text, then zeros to the sector's end.
  if (!whole) {
    for (std::size_t i = run; i < kSector; ++i)
      if (s.UncheckedU8(i) != 0) return false;
  }
  std::array<bool, 256> seen{};
  std::size_t distinct = 0, letters = 0;
  for (std::size_t i = 0; i < run; ++i) {
    const std::uint8_t b = s.UncheckedU8(i);
    if (!seen[b]) seen[b] = true, ++distinct;
    if ((b | 0x20) >= 'a' && (b | 0x20) <= 'z') ++letters;
    else if (b >= 0x80) ++letters;
  }
  return distinct >= kMinDistinctBytes && letters * 4 >= run;
}

bool IsUnicodeText(const ByteCursor& s) {
  Encoding enc = Encoding::kAscii;
  std::size_t at = ByteOrderMark(s.span(), enc);
  if (at == 0) return false;
  // Sixteen characters of text after the mark.
  for (int n = 0; n < 16; ++n) {
    const Char ch = CharAt(s.span().first(kSector), at, enc);
    if (ch.length == 0) return false;
    at += ch.length;
  }
  return true;
}

bool ContinuesText(const ByteCursor& previous, const ByteCursor&) {
  bool whole = false;
  SectorTextRun(previous.span().first(kSector), whole);
  return whole;
}

RuleResult TextRule(CarveState& s, const CarveInput& in) {
  const auto& table = CarveUnitTable();
  const bool loose = s.unit < table.size() && (table[s.unit].flags & kUnitLoose);
  return MeasuredRule(s, in, loose ? MeasurePlainText : MeasureText);
}

RuleResult RtfRule(CarveState& s, const CarveInput& in) { return MeasuredRule(s, in, MeasureRtf); }

}  // namespace ambrel
