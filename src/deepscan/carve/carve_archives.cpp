// Archives: cabinet, MIDAS, 7-Zip, ZIP (and the Office Open XML documents
// and Java archives built on it), RAR, JAR; and Windows programs, whose
// installers are archives too.
#include <zlib.h>

#include <algorithm>
#include <cstring>
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
constexpr std::uint32_t kDescriptorMark = 0x08074B50u;
constexpr std::uint32_t kSpanMarker = 0x30304B50u;   // "PK00" before the first entry
constexpr std::uint16_t kDataDescriptorFlag = 0x0008;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFFu;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint64_t kZipMaxRecord = 1ull << 40;
// The data of an entry sized by its descriptor is searched this far.
constexpr std::uint64_t kZipMaxSearch = 1ull << 33;
// Bytes a descriptor search keeps in view on either side of a candidate.
constexpr std::uint64_t kZipSearchMargin = 24;

// The member names that tell what a zip holds (the phase bits of its walk).
constexpr std::uint8_t kNamedContentTypes = 1, kNamedWord = 2, kNamedSheet = 4, kNamedSlides = 8,
                       kNamedManifest = 16, kZipSpanned = 32;
constexpr std::uint32_t kDocxType = 37, kXlsxType = 38, kPptxType = 89, kJarType = 63;

constexpr std::uint8_t kRarMarker = 0x72, kRarFile = 0x74, kRarService = 0x7A, kRarEnd = 0x7B;
// RAR 5: after the 8-byte signature, blocks of a CRC32, the header size and
// the header (type, flags, then the extra and data sizes the flags
// announce), each size a variable-length integer; the data follows the
// header, and the end-of-archive block (type 5) ends the file.
constexpr std::uint64_t kRar5Signature = 8;
constexpr std::uint64_t kRar5MaxHeader = 0x200000;
constexpr std::uint64_t kRar5EndBlock = 5, kRar5MaxType = 5;
constexpr std::uint64_t kRar5HasExtra = 1, kRar5HasData = 2;
constexpr std::uint16_t kRarLongBlock = 0x8000;
constexpr std::uint16_t kRarMinHeader = 7;

// 7-Zip: the 32-byte signature header names the next header (offset from
// its end, size and CRC); the archive ends with it.
constexpr std::uint64_t kSevenZipHeader = 32;
constexpr std::uint32_t kSevenZipCheckedHeader = 0x1000000;

// Cabinet: the header (36 bytes and its optional parts), the folder
// entries, the file entries, then the data blocks of each folder; the
// header states the cabinet's size, which the last data block must reach.
constexpr std::uint64_t kCabHeader = 36;
constexpr std::uint16_t kCabReserve = 4, kCabPrevious = 1, kCabNext = 2;
constexpr std::uint8_t kCabStart = 0, kCabBlocks = 1;
// The header with its optional strings, and the usual folder entries.
constexpr std::uint32_t kCabFirstWindow = 4096;

// Windows programs: the DOS header names the PE header ("PE\0\0", the
// file header, the optional header with its data directories, the section
// table). The file ends with the section or the certificate table that
// ends last.
constexpr std::uint32_t kPeMaxHeaderOffset = 0x400;
constexpr std::uint32_t kPeHeaderWindow = 0x1000;
constexpr std::uint16_t kPe32 = 0x10B, kPe32Plus = 0x20B;
constexpr std::uint16_t kPeMaxSections = 96;
constexpr std::uint32_t kPeCertificateEntry = 4;
constexpr std::uint32_t kPeMaxSymbols = 0x1000000;
constexpr std::uint32_t kPeMaxStrings = 0x4000000;

void NoteMember(CarveState& s, std::string_view name) {
  if (name == "[Content_Types].xml") s.phase |= kNamedContentTypes;
  else if (name.starts_with("word/")) s.phase |= kNamedWord;
  else if (name.starts_with("xl/")) s.phase |= kNamedSheet;
  else if (name.starts_with("ppt/")) s.phase |= kNamedSlides;
  else if (name == "META-INF/MANIFEST.MF") s.phase |= kNamedManifest;
}

// The type the member names make of the archive: an Office Open XML
// document needs its content types and its main part's folder.
void RefineZipType(CarveState& s) {
  if (s.phase & kNamedContentTypes) {
    if (s.phase & kNamedWord) s.type = kDocxType;
    else if (s.phase & kNamedSheet) s.type = kXlsxType;
    else if (s.phase & kNamedSlides) s.type = kPptxType;
  } else if (s.phase & kNamedManifest) {
    s.type = kJarType;
  }
}

// The compressed size a local header with zip64 markers keeps in its
// extra field; nothing when it is not there.
std::optional<std::uint64_t> Zip64PackedSize(const ByteCursor& extra, bool unpackedMarked) {
  std::uint64_t at = 0;
  while (extra.Contains(at, 4)) {
    const std::uint16_t id = extra.UncheckedU16(at), length = extra.UncheckedU16(at + 2);
    if (id == kZip64Extra) {
      // The original size comes first when its header field is marked.
      return extra.U64(at + 4 + (unpackedMarked ? 8 : 0));
    }
    at += 4 + std::uint64_t{length};
  }
  return std::nullopt;
}

// The end of an entry's data when a descriptor follows it: the descriptor
// "PK\7\8" whose compressed size is the distance from the data's start,
// or, without that mark, the next header preceded by such a size (32-bit,
// or 64-bit for zip64 entries). Scans the window from the walk's position
// (the data start + 1 is in s.remembered); answers the window offset of
// what follows the descriptor.
std::optional<std::uint64_t> FindDescriptorEnd(const CarveState& s, const ByteCursor& w, std::uint64_t lo,
                                               std::uint64_t hi) {
  const std::uint64_t dataStart = s.remembered - 1;
  const std::uint8_t* d = w.data();
  std::uint64_t r = lo;
  while (r < hi) {
    const void* hit = std::memchr(d + r, 'P', static_cast<std::size_t>(hi - r));
    if (!hit) break;
    r = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(hit) - d);
    if (r + 1 < w.size() && d[r + 1] == 'K') {
      const std::uint64_t packed = s.offset + r - dataStart;  // data bytes before r
      const auto signature = w.U32(r);
      if (signature == kDescriptorMark) {
        if (w.U32(r + 8) == packed) return r + 16;
        if (w.U64(r + 8) == packed) return r + 24;
      } else if (signature == kLocalHeader || signature == kCentralHeader) {
        if (r >= 12 && packed >= 12 && w.U32(r - 8) == packed - 12) return r;
        if (r >= 20 && packed >= 20 && w.U64(r - 16) == packed - 20) return r;
      }
    }
    ++r;
  }
  return std::nullopt;
}

// The record walk: local headers and their data, central headers, the
// zip64 end records and the end record, whose central-directory offset and
// count must be those the walk met. Words: counter, central headers;
// mark, the central directory's offset + 1; remembered, the data start + 1
// of an entry whose end is searched; phase, the kNamed* bits.
std::optional<RuleResult> ZipStep(CarveState& s, const ByteCursor& w, bool last, std::uint32_t& need) {
  if (s.remembered != 0) {
    const std::uint64_t dataStart = s.remembered - 1;
    if (s.offset - dataStart > kZipMaxSearch) return RuleResult::kNone;
    const std::uint64_t lo = s.offset == dataStart ? 0 : kZipSearchMargin;
    const std::uint64_t hi = last ? w.size() : (w.size() > kZipSearchMargin ? w.size() - kZipSearchMargin : 0);
    if (hi <= lo) {
      if (last) return RuleResult::kNone;
      need = static_cast<std::uint32_t>(lo + kZipSearchMargin + 512);
      return std::nullopt;
    }
    if (const auto next = FindDescriptorEnd(s, w, lo, hi)) {
      s.offset += *next;
      s.remembered = 0;
      need = 4;
      return std::nullopt;
    }
    if (last) return RuleResult::kNone;
    s.offset += hi - kZipSearchMargin;
    need = 2 * kZipSearchMargin + 512;
    return std::nullopt;
  }
  std::uint64_t pos = 0;
  for (;;) {
    const auto signature = w.U32(pos);
    if (!signature) {
      need = 4;
      break;
    }
    const std::uint64_t at = s.offset + pos;  // in the file
    if (*signature == kLocalHeader) {
      if (!w.Contains(pos, 30)) {
        need = 30;
        break;
      }
      const std::uint16_t flags = w.UncheckedU16(pos + 6);
      std::uint64_t packed = w.UncheckedU32(pos + 18);
      const std::uint32_t unpacked = w.UncheckedU32(pos + 22);
      const std::uint16_t name = w.UncheckedU16(pos + 26), extra = w.UncheckedU16(pos + 28);
      const std::uint64_t header = 30ull + name + extra;
      if (!w.Contains(pos, header)) {
        need = static_cast<std::uint32_t>(header);
        break;
      }
      if (s.mark != 0) return Invalid(s);  // entries come before the directory
      NoteMember(s, std::string_view(reinterpret_cast<const char*>(w.data() + pos + 30), name));
      if (packed == kZip64Marker || unpacked == kZip64Marker) {
        const auto big = Zip64PackedSize(*w.Sub(pos + 30 + name, extra), unpacked == kZip64Marker);
        if (!big && !(flags & kDataDescriptorFlag)) return Invalid(s);
        packed = big ? *big : 0;
      }
      if (flags & kDataDescriptorFlag) {
        // The sizes follow the data: search for them.
        s.offset = at + header;
        s.remembered = s.offset + 1;
        need = static_cast<std::uint32_t>(2 * kZipSearchMargin + 512);
        return std::nullopt;
      }
      if (packed > kZipMaxRecord) return Invalid(s);
      pos += header + packed;
    } else if (*signature == kCentralHeader) {
      if (!w.Contains(pos, 46)) {
        need = 46;
        break;
      }
      if (s.mark == 0) s.mark = at + 1;
      ++s.counter;
      pos += 46 + std::uint64_t{w.UncheckedU16(pos + 28)} + w.UncheckedU16(pos + 30) + w.UncheckedU16(pos + 32);
    } else if (*signature == kZip64EndRecord) {
      if (!w.Contains(pos, 56)) {
        need = 56;
        break;
      }
      const std::uint64_t size = w.UncheckedU64(pos + 4), entries = w.UncheckedU64(pos + 32);
      const std::uint64_t directory = w.UncheckedU64(pos + 48);
      if (size < 44 || size > kZipMaxRecord || entries != s.counter || (s.mark && directory + 1 != s.mark &&
                                                                        directory + 5 != s.mark))
        return Invalid(s);
      pos += 12 + size;
    } else if (*signature == kZip64Locator) {
      pos += 20;
    } else if (*signature == kEndRecord) {
      if (!w.Contains(pos, 22)) {
        need = 22;
        break;
      }
      const std::uint16_t entries = w.UncheckedU16(pos + 10);
      const std::uint32_t directory = w.UncheckedU32(pos + 16);
      const std::uint64_t start = s.mark ? s.mark - 1 : at;
      const bool offsetOk = directory == kZip64Marker || directory == start ||
                            ((s.phase & kZipSpanned) && directory + 4 == start);
      const bool countOk = entries == 0xFFFF || entries == (s.counter & 0xFFFF);
      if (!offsetOk || !countOk) return Invalid(s);
      RefineZipType(s);
      return Sized(s, at + 22 + w.UncheckedU16(pos + 20));
    } else if (*signature == kSpanMarker && at == 0) {
      s.phase |= kZipSpanned;
      pos += 4;
    } else {
      return Invalid(s);
    }
  }
  s.offset += pos;
  return std::nullopt;
}

// A RAR 5 variable-length integer at `at`: 7 bits per byte, low first.
std::optional<std::uint64_t> RarVint(const ByteCursor& w, std::uint64_t& at) {
  std::uint64_t value = 0;
  for (unsigned shift = 0; shift < 64; shift += 7) {
    const auto b = w.U8(at++);
    if (!b) return std::nullopt;
    value |= std::uint64_t{*b & 0x7Fu} << shift;
    if (!(*b & 0x80)) return value;
  }
  return std::nullopt;
}

std::optional<RuleResult> Rar5Step(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  std::uint64_t pos = s.offset == 0 ? kRar5Signature : 0;
  for (;;) {
    // CRC, header size (at most 3 bytes of it), header.
    std::uint64_t at = pos + 4;
    const auto size = RarVint(w, at);
    if (!size || !w.Contains(pos, 7)) {
      need = 16;
      break;
    }
    if (*size == 0 || *size > kRar5MaxHeader) return Invalid(s);
    const std::uint64_t headerStart = pos + 4, headerEnd = at + *size;
    if (!w.Contains(pos, headerEnd - pos)) {
      need = static_cast<std::uint32_t>(headerEnd - pos);
      break;
    }
    if (crc32(0, w.data() + headerStart, static_cast<uInt>(headerEnd - headerStart)) != w.UncheckedU32(pos))
      return Invalid(s);
    const auto type = RarVint(w, at), flags = RarVint(w, at);
    if (!type || !flags || *type == 0 || *type > kRar5MaxType) return Invalid(s);
    std::uint64_t data = 0;
    if (*flags & kRar5HasExtra) {
      if (!RarVint(w, at)) return Invalid(s);
    }
    if (*flags & kRar5HasData) {
      const auto d = RarVint(w, at);
      if (!d || *d > kZipMaxRecord) return Invalid(s);
      data = *d;
    }
    if (at > headerEnd) return Invalid(s);
    pos = headerEnd + data;
    if (*type == kRar5EndBlock) return Sized(s, s.offset + pos);
  }
  s.offset += pos;
  return std::nullopt;
}

// 7-Zip: the signature header's CRC, then the next header's CRC.
std::optional<RuleResult> SevenZipStep(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  if (s.phase == 0) {
    if (!w.Contains(0, kSevenZipHeader)) {
      need = kSevenZipHeader;
      return std::nullopt;
    }
    if (!Is7z(w) || w.U8(5) != 0x1C || w.U8(6) != 0) return Invalid(s);
    if (crc32(0, w.data() + 12, 20) != w.UncheckedU32(8)) return Invalid(s);
    const std::uint64_t offset = w.UncheckedU64(12), size = w.UncheckedU64(20);
    if (size == 0 || size > kZipMaxRecord || offset > kZipMaxRecord) return Invalid(s);
    s.remembered = size;
    s.mark = w.UncheckedU32(28);
    s.phase = 1;
    s.offset = kSevenZipHeader + offset;
    if (size > kSevenZipCheckedHeader) return Sized(s, s.offset + size);
    need = static_cast<std::uint32_t>(size);
    return std::nullopt;
  }
  if (!w.Contains(0, s.remembered)) {
    need = static_cast<std::uint32_t>(s.remembered);
    return std::nullopt;
  }
  // The next header is a header (1) or a packed one (0x17).
  const std::uint8_t first = w.UncheckedU8(0);
  if ((first != 0x01 && first != 0x17) ||
      crc32(0, w.data(), static_cast<uInt>(s.remembered)) != static_cast<uLong>(s.mark))
    return Invalid(s);
  return Sized(s, s.offset + s.remembered);
}

// The cabinet header's optional strings: a NUL-terminated name and disk.
std::optional<std::uint64_t> SkipCabStrings(const ByteCursor& w, std::uint64_t at) {
  for (int i = 0; i < 2; ++i) {
    std::uint64_t n = 0;
    for (;; ++n) {
      const auto b = w.U8(at + n);
      if (!b || n > 255) return std::nullopt;
      if (*b == 0) break;
    }
    at += n + 1;
  }
  return at;
}

// Words: mark, the cabinet's size (low 32 bits) and the reserve of each
// data block (bits 32..39); counter, the data blocks left.
std::optional<RuleResult> CabinetStep(CarveState& s, const ByteCursor& w, bool, std::uint32_t& need) {
  if (s.phase == kCabStart) {
    // The InstallShield cabinet ("ISc(") states no size.
    if (w.Matches(0, "ISc(")) return RuleResult::kNone;
    const auto cabinet = w.U32(8), files = w.U32(16);
    const auto folders = w.U16(26), fileCount = w.U16(28), flags = w.U16(30);
    if (!cabinet || !files || !folders || !fileCount || !flags) {
      need = kCabHeader;
      return std::nullopt;
    }
    if (!w.Matches(0, "MSCF") || w.U32(4) != 0u || w.U8(24) != 3 || w.U8(25) != 1 || *folders == 0 ||
        *fileCount == 0 || *flags > 7 || *cabinet < kCabHeader || *files >= *cabinet)
      return Invalid(s);
    std::uint64_t at = kCabHeader;
    std::uint8_t folderReserve = 0, dataReserve = 0;
    if (*flags & kCabReserve) {
      const auto header = w.U16(36);
      const auto folder = w.U8(38), data = w.U8(39);
      if (!header || !folder || !data) return Invalid(s);
      folderReserve = *folder;
      dataReserve = *data;
      at += 4 + std::uint64_t{*header};
    }
    if (*flags & kCabPrevious) {
      const auto next = SkipCabStrings(w, at);
      if (!next) return Invalid(s);
      at = *next;
    }
    if (*flags & kCabNext) {
      const auto next = SkipCabStrings(w, at);
      if (!next) return Invalid(s);
      at = *next;
    }
    // The folder whose data starts last ends the cabinet.
    const std::uint64_t entry = 8 + std::uint64_t{folderReserve};
    if (!w.Contains(at, entry * *folders)) {
      need = static_cast<std::uint32_t>(at + entry * *folders);
      return std::nullopt;
    }
    std::uint32_t lastStart = 0;
    std::uint16_t lastBlocks = 0;
    for (std::uint16_t i = 0; i < *folders; ++i) {
      const std::uint32_t start = w.UncheckedU32(at + entry * i);
      const std::uint16_t blocks = w.UncheckedU16(at + entry * i + 4);
      if (start < at + entry * *folders || start >= *cabinet) return Invalid(s);
      if (start >= lastStart) lastStart = start, lastBlocks = blocks;
    }
    if (lastBlocks == 0) return Invalid(s);
    s.mark = *cabinet | (std::uint64_t{dataReserve} << 32);
    s.counter = lastBlocks;
    s.offset = lastStart;
    s.phase = kCabBlocks;
    need = 8 + dataReserve;
    return std::nullopt;
  }
  const std::uint64_t cabinet = s.mark & 0xFFFFFFFFu, reserve = (s.mark >> 32) & 0xFF;
  std::uint64_t pos = 0;
  while (s.counter > 0) {
    const auto length = w.U16(pos + 4);
    if (!length || !w.Contains(pos, 8 + reserve)) {
      need = static_cast<std::uint32_t>(8 + reserve);
      break;
    }
    pos += 8 + reserve + *length;
    --s.counter;
    if (s.offset + pos > cabinet) return Invalid(s);
  }
  if (s.counter == 0) return s.offset + pos == cabinet ? Sized(s, cabinet) : Invalid(s);
  s.offset += pos;
  return std::nullopt;
}

}  // namespace

bool IsWindowsProgram(const ByteCursor& s) {
  const auto header = s.U32(0x3C);
  return s.Matches(0, "MZ"sv) && header && *header >= 0x40 && *header + 4 <= 512 &&
         s.Matches(*header, "PE\0\0"sv);
}

RuleResult WindowsProgramRule(CarveState& s, const CarveInput& in) {
  if (s.endPending) return SizedIfPresent(s, in, s.size);
  ByteCursor w;
  const WindowRead r = Window(s, in, 0, kPeHeaderWindow, w);
  if (r != WindowRead::kReady) return NotReady(r);
  const auto pe = w.U32(0x3C);
  if (!pe || *pe > kPeMaxHeaderOffset || !w.Matches(*pe, "PE\0\0"sv)) return Invalid(s);
  const auto sections = w.U16(*pe + 6), optionalSize = w.U16(*pe + 20);
  const std::uint64_t optional = *pe + 24ull;
  const auto magic = w.U16(optional);
  if (!sections || !optionalSize || !magic || *sections == 0 || *sections > kPeMaxSections ||
      (*magic != kPe32 && *magic != kPe32Plus))
    return Invalid(s);
  const std::uint64_t table = optional + *optionalSize;
  const std::uint32_t symbols = w.U32(*pe + 12).value_or(0), symbolCount = w.U32(*pe + 16).value_or(0);
  if (!w.Contains(table, 40ull * *sections)) return RuleResult::kNone;
  std::uint64_t end = w.U32(optional + 60).value_or(0);  // the size of the headers
  for (std::uint16_t i = 0; i < *sections; ++i) {
    const std::uint32_t raw = w.UncheckedU32(table + 40ull * i + 16), at = w.UncheckedU32(table + 40ull * i + 20);
    if (raw != 0) end = std::max<std::uint64_t>(end, std::uint64_t{at} + raw);
  }
  // The certificate table's entry holds a file offset, not an address.
  const std::uint64_t directories = optional + (*magic == kPe32 ? 96 : 112);
  const auto count = w.U32(directories - 4);
  if (count && *count > kPeCertificateEntry) {
    const std::uint64_t entry = directories + 8 * kPeCertificateEntry;
    const auto at = w.U32(entry), size = w.U32(entry + 4);
    if (at && size && *size != 0) end = std::max<std::uint64_t>(end, std::uint64_t{*at} + *size);
  }
  // Last (the window is read anew): a COFF symbol table (left by some
  // linkers) and its string table.
  if (symbols != 0 && symbolCount != 0 && symbolCount < kPeMaxSymbols) {
    const std::uint64_t strings = std::uint64_t{symbols} + 18ull * symbolCount;
    ByteCursor tail;
    const WindowRead t = Window(s, in, strings, 4, tail);
    if (t == WindowRead::kPending) return RuleResult::kPending;
    const auto size = tail.U32(0);
    if (t == WindowRead::kReady && size && *size >= 4 && *size < kPeMaxStrings)
      end = std::max(end, strings + *size);
  }
  return SizedIfPresent(s, in, end);
}

bool IsCabinet(const ByteCursor& s) {
  return (s.Matches(0, "MSCF"sv) && s.U32(4) == 0u) || s.Matches(0, "ISc("sv);
}

bool IsMidasMcb(const ByteCursor& s) { return s.Matches(0, "MCVL"sv); }

bool Is7z(const ByteCursor& s) { return s.Matches(0, "7z\xBC\xAF"sv) && s.U8(4) == 0x27; }

bool IsZip(const ByteCursor& s) {
  return s.Matches(0, "PK\x03\x04"sv) || s.Matches(0, "PK00"sv) || s.Matches(0, "PK\x05\x06"sv);
}

bool IsRar(const ByteCursor& s) {
  return s.Matches(0, "Rar!\x1A\x07\x00"sv) || s.Matches(0, "Rar!\x1A\x07\x01\x00"sv);
}

bool IsJar(const ByteCursor& s) { return s.Matches(0, "\x5F\x27\xA8\x89"sv); }

RuleResult ZipRule(CarveState& s, const CarveInput& in) { return WalkRecords(s, in, ZipStep, 30); }

RuleResult SevenZipRule(CarveState& s, const CarveInput& in) {
  return WalkRecords(s, in, SevenZipStep, kSevenZipHeader);
}

RuleResult CabinetRule(CarveState& s, const CarveInput& in) {
  return WalkRecords(s, in, CabinetStep, kCabFirstWindow);
}

// The block chain: every block by its header size plus, for long blocks,
// the data size after it; the end-of-archive block ends the file.
RuleResult RarRule(CarveState& s, const CarveInput& in) {
  if (s.phase == 0) {
    ByteCursor w;
    const WindowRead r = Window(s, in, 0, 16, w);
    if (r != WindowRead::kReady) return NotReady(r);
    s.phase = w.Matches(0, "Rar!\x1A\x07\x01\x00"sv) ? 5 : 4;
    s.offset = 0;
  }
  if (s.phase == 5) return WalkRecords(s, in, Rar5Step, 16);
  for (;;) {
    ByteCursor w;
    const WindowRead r = Window(s, in, s.offset, 16, w);
    if (r == WindowRead::kPastArea) return RuleResult::kNone;
    if (r != WindowRead::kReady) return RuleResult::kPending;
    if (!w.Contains(0, 11)) return RuleResult::kNone;
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
