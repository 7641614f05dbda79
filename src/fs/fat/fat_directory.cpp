#include "fs/fat/fat_directory.h"

#include <cstring>

#include "common/byte_cursor.h"
#include "common/text.h"
#include "fs/fat/dos_time.h"
#include "platform/codepage.h"

namespace ambrel {
namespace {

constexpr std::size_t kEntrySize = 32;
constexpr std::size_t kCharsPerPiece = 13;
// Offsets of the UTF-16 characters of a long-name piece: 5 at 1, 6 at 14, 2 at 28.
constexpr std::uint8_t kPieceCharOffsets[kCharsPerPiece] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

bool IsLongNamePiece(const std::uint8_t* e) { return e[11] == kFatAttrLongName; }

// Appends the characters of one piece; false once the terminator was met.
bool AppendPiece(const std::uint8_t* piece, std::u16string& name) {
  for (std::uint8_t off : kPieceCharOffsets) {
    char16_t ch = static_cast<char16_t>(piece[off] | (piece[off + 1] << 8));
    if (ch == 0) return false;
    if (name.size() >= kFatMaxLongName) return false;
    name.push_back(ch);
  }
  return true;
}

// Pieces in logical order are the physical pieces last to first.
std::string AssembleName(const std::uint8_t* first, std::size_t pieces) {
  std::u16string name;
  for (std::size_t k = pieces; k-- > 0;)
    if (!AppendPiece(first + k * kEntrySize, name)) break;
  // Padding after the terminator is 0xFFFF; a name without terminator may
  // still carry it when the pieces were damaged.
  while (!name.empty() && name.back() == 0xFFFF) name.pop_back();
  return Utf16ToUtf8(name);
}

bool IsDotEntry(const std::uint8_t* e) {
  return std::memcmp(e, ".          ", 11) == 0 || std::memcmp(e, "..         ", 11) == 0;
}

bool IsListedShortEntry(const std::uint8_t* e) {
  std::uint8_t attr = e[11];
  return e[0] != 0 && attr != 0x00 && attr != kFatAttrVolumeLabel && attr != kFatAttrLongName;
}

FatDirEntry DecodeShortEntry(const std::uint8_t* e, bool fat32) {
  ByteCursor c(e, kEntrySize);
  FatDirEntry d;
  d.name = FatShortName(e);
  d.deleted = e[0] == kFatDeletedMark;
  d.attributes = e[11];
  d.directory = (e[11] & kFatAttrDirectory) != 0;
  d.size = c.UncheckedU32(28);
  std::uint32_t low = c.UncheckedU16(26);
  d.firstCluster = fat32 ? ((std::uint32_t(c.UncheckedU16(20)) << 16 | low) & 0x0FFFFFFF) : low;
  d.created = PackDosDateTime(c.UncheckedU16(16), c.UncheckedU16(14));
  d.modified = PackDosDateTime(c.UncheckedU16(24), c.UncheckedU16(22));
  return d;
}

// A live run: first piece with 0x40 and ordinal 1..20, following pieces with
// ordinals counting down and the same checksum, then a live short entry whose
// name checksum matches. Returns the piece count, or 0 when the run fails.
std::size_t CheckLiveRun(const std::uint8_t* base, std::size_t i, std::size_t n) {
  const std::uint8_t* first = base + i * kEntrySize;
  if (!(first[0] & 0x40)) return 0;
  std::size_t ordinal = first[0] & ~0x40u;
  if (ordinal < 1 || ordinal > 20 || i + ordinal >= n) return 0;
  std::uint8_t checksum = first[13];
  for (std::size_t k = 1; k < ordinal; ++k) {
    const std::uint8_t* p = base + (i + k) * kEntrySize;
    if (!IsLongNamePiece(p) || p[0] != ordinal - k || p[13] != checksum) return 0;
  }
  const std::uint8_t* s = base + (i + ordinal) * kEntrySize;
  if (s[0] == 0 || s[0] == kFatDeletedMark || IsLongNamePiece(s) || (s[11] & kFatAttrVolumeLabel))
    return 0;
  return FatShortNameChecksum(s) == checksum ? ordinal : 0;
}

void AddShortEntry(const std::uint8_t* e, bool fat32, std::size_t index, std::string longName,
                   std::vector<FatDirEntry>& out) {
  if (!IsListedShortEntry(e) || IsDotEntry(e)) return;
  FatDirEntry d = DecodeShortEntry(e, fat32);
  d.entryIndex = static_cast<std::uint32_t>(index);
  if (!longName.empty()) {
    d.name = std::move(longName);
    d.hasLongName = true;
  }
  out.push_back(std::move(d));
}

}  // namespace

std::uint8_t FatShortNameChecksum(const std::uint8_t* shortName11) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + shortName11[i]);
  return sum;
}

std::string FatShortName(const std::uint8_t* entry) {
  // 8 + 3 bytes padded with blanks. Byte 12 carries the case flags that
  // Windows and Linux set for a name that is all lower case in its base
  // (0x08) or extension (0x10) and so needs no long name.
  const bool lowerBase = (entry[12] & 0x08) != 0;
  const bool lowerExt = (entry[12] & 0x10) != 0;
  // 0xE5 marks a deleted entry, shown as '!'; a name that really starts with
  // 0xE5 (a lead byte in Japanese code pages) is stored as 0x05.
  std::uint8_t raw[11];
  std::memcpy(raw, entry, 11);
  if (raw[0] == kFatDeletedMark) raw[0] = '!';
  else if (raw[0] == 0x05) raw[0] = 0xE5;
  auto part = [&](int from, int length, bool lower) {
    int end = from;
    while (end < from + length && raw[end] != 0) ++end;  // a NUL ends a damaged name
    while (end > from && raw[end - 1] == ' ') --end;
    std::string bytes(reinterpret_cast<const char*>(raw) + from, static_cast<std::size_t>(end - from));
    bool ascii = true;
    for (char ch : bytes) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
    // The flags are honoured on ASCII only: in a double-byte code page a
    // trail byte can fall in 'A'..'Z'.
    if (lower && ascii) bytes = AsciiLower(bytes);
    return bytes;
  };
  std::string base = part(0, 8, lowerBase);
  const std::string ext = part(8, 3, lowerExt);
  if (base.empty() && !ext.empty()) base = "_";  // an empty base would make a hidden ".EXT"
  std::string name = ext.empty() ? base : base + "." + ext;
  // Bytes above 0x7F are in the OEM code page of the machine that wrote the
  // name, taken to be the ANSI code page (GBK by default).
  for (char ch : name)
    if (static_cast<unsigned char>(ch) >= 0x80) return ToWide(name);
  return name;
}

std::vector<FatDirEntry> DecodeFatDirectory(std::span<const std::uint8_t> buffer, bool fat32) {
  std::vector<FatDirEntry> out;
  const std::uint8_t* base = buffer.data();
  const std::size_t n = buffer.size() / kEntrySize;
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t* e = base + i * kEntrySize;
    if (e[0] == 0) break;
    if (!IsLongNamePiece(e)) {
      AddShortEntry(e, fat32, i, {}, out);
      ++i;
      continue;
    }
    if (e[0] == kFatDeletedMark) {
      // Deleted run: neither ordinal nor checksum survives deletion; the
      // short entry after the pieces must be deleted too, else the pieces
      // are stray and skipped.
      std::size_t j = i;
      while (j < n && base[j * kEntrySize] == kFatDeletedMark && IsLongNamePiece(base + j * kEntrySize))
        ++j;
      if (j < n && base[j * kEntrySize] == kFatDeletedMark)
        AddShortEntry(base + j * kEntrySize, fat32, j, AssembleName(e, j - i), out);
      i = j < n && base[j * kEntrySize] == kFatDeletedMark ? j + 1 : j;
      continue;
    }
    if (std::size_t pieces = CheckLiveRun(base, i, n)) {
      AddShortEntry(base + (i + pieces) * kEntrySize, fat32, i + pieces, AssembleName(e, pieces), out);
      i += pieces + 1;
      continue;
    }
    ++i;  // a broken run: its pieces are passed over one by one
  }
  return out;
}

bool IsFatFolderStart(std::span<const std::uint8_t> sector, std::uint64_t cluster, std::uint64_t highestCluster,
                      bool fat32) {
  const ByteCursor c(sector);
  if (!c.Contains(0, 64) || !c.Matches(0, ".          ") || !c.Matches(32, "..         ")) return false;
  auto clusterOf = [&](std::size_t at) {
    const std::uint64_t high = c.UncheckedU16(at + 20);
    return ((high << 16) & 0x0FFFFFFF) | c.UncheckedU16(at + 26);
  };
  for (std::size_t at : {std::size_t{0}, std::size_t{32}}) {
    const std::uint8_t attributes = c.UncheckedU8(at + 11);
    if ((attributes & kFatAttrDirectory) == 0 || (attributes & kFatAttrVolumeLabel) != 0) return false;
    if (!fat32 && c.UncheckedU16(at + 20) != 0) return false;
  }
  const std::uint64_t self = clusterOf(0), parent = clusterOf(32);
  if (cluster < 2 || self != cluster || self > highestCluster) return false;
  return parent == 0 || (parent >= 2 && parent <= highestCluster && parent != self);
}

bool ContinuesFatFolder(std::span<const std::uint8_t> cluster) {
  const ByteCursor c(cluster);
  if (!c.Contains(0, kEntrySize) || c.UncheckedU8(0) == 0) return false;
  for (std::size_t at = 0; c.Contains(at, kEntrySize); at += kEntrySize) {
    const std::uint8_t first = c.UncheckedU8(at);
    if (first == 0) break;
    const std::uint8_t attributes = c.UncheckedU8(at + 11);
    if (attributes == kFatAttrLongName) {
      if (c.UncheckedU16(at + 26) != 0) return false;
      continue;
    }
    if ((attributes & 0xC0) != 0) return false;
    for (std::size_t i = 0; i < 11; ++i) {
      const std::uint8_t b = c.UncheckedU8(at + i);
      // 0x05 stands for a first byte of 0xE5; other control bytes and the
      // characters a short name never holds end the folder.
      if (b < 0x20 && !(i == 0 && b == 0x05)) return false;
      if (b != kFatDeletedMark && std::strchr("\"*+,./:;<=>?[\\]|", b) != nullptr && !(b == '.' && i < 2))
        return false;
    }
  }
  return true;
}

bool IsRecycleBinText(const std::string& name) {
  return name.size() == 12 && AsciiUpper(name) == "$RECYCLE.BIN";
}

std::string FatDirectoryLabel(std::span<const std::uint8_t> root) {
  for (std::size_t at = 0; at + kEntrySize <= root.size(); at += kEntrySize) {
    const std::uint8_t* e = root.data() + at;
    if (e[0] == 0) break;
    if (e[0] == kFatDeletedMark || IsLongNamePiece(e) || !(e[11] & kFatAttrVolumeLabel)) continue;
    std::string label(reinterpret_cast<const char*>(e), 11);
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
    for (char c : label)
      if (static_cast<unsigned char>(c) < 0x20) return {};
    return ToWide(label);  // labels are code-page text
  }
  return {};
}

}  // namespace ambrel
