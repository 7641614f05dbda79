#include "fs/exfat/exfat_entries.h"

#include <algorithm>

#include "common/byte_cursor.h"
#include "common/text.h"
#include "fs/fat/dos_time.h"

namespace ambrel {
namespace exfat_detail {

namespace {
PackedTime PackTimestamp(std::uint32_t stamp) {
  return PackDosDateTime(static_cast<std::uint16_t>(stamp >> 16), static_cast<std::uint16_t>(stamp & 0xFFFF));
}
}  // namespace

bool SetBuilder::Feed(const std::uint8_t* e) {
  ByteCursor c(e, 32);
  const std::uint8_t type = e[0];
  if (type == 0x85 || type == 0x05) {
    set = ExfatFileSet{};
    name.clear();
    nameLength = 0;
    remaining = e[1];
    open = remaining > 0;
    set.deleted = type == 0x05;
    set.directory = (c.UncheckedU16(4) & 0x10) != 0;
    set.created = PackTimestamp(c.UncheckedU32(8));
    set.modified = PackTimestamp(c.UncheckedU32(12));
    return false;
  }
  if (!open) return false;  // stream and name entries outside a set
  // A set's secondaries carry the same deleted / live type codes as its file entry.
  const std::uint8_t stream = set.deleted ? 0x40 : 0xC0;
  const std::uint8_t nameType = set.deleted ? 0x41 : 0xC1;
  if (type == stream) {
    // ValidDataLength (8) says how far the data was written, DataLength (24)
    // how much is allocated. A camera cut by a power loss leaves the first
    // below the second; an entry with the two the wrong way round keeps the
    // larger, so that nothing written is dropped.
    nameLength = e[3];
    set.validLength = c.UncheckedU64(8);
    set.size = std::max(set.validLength, c.UncheckedU64(24));
    set.noFatChain = (e[1] & 0x02) != 0;
    set.firstCluster = c.UncheckedU32(20);
    if (--remaining == 0) open = false;
    return false;
  }
  if (type != nameType) return false;
  for (int k = 0; k < 15 && name.size() < kExfatMaxName; ++k)
    name.push_back(static_cast<char16_t>(c.UncheckedU16(2 + 2 * k)));
  if (--remaining > 0) return false;
  open = false;
  // NameLength bounds the name; the last name entry is padded with zeros.
  // Without a usable length the name ends at its first NUL.
  if (nameLength > 0 && nameLength <= name.size()) {
    name.resize(nameLength);
  } else if (std::size_t zero = name.find(u'\0'); zero != std::u16string::npos) {
    name.resize(zero);
  }
  set.name = NameUtf16ToUtf8(name);
  return true;
}

}  // namespace exfat_detail

std::vector<ExfatFileSet> DecodeExfatEntries(std::span<const std::uint8_t> buffer) {
  std::vector<ExfatFileSet> out;
  ForEachExfatSet(buffer, [&](const ExfatFileSet& s) { out.push_back(s); });
  return out;
}

bool IsExfatLabelEntry(const std::uint8_t* entry) {
  if (entry[0] != 0x83 && entry[0] != 0x03) return false;
  unsigned count = entry[1];
  if (count >= 16) return false;
  for (unsigned k = 0; k < count; ++k)
    if (entry[2 + 2 * k] == 0 && entry[3 + 2 * k] == 0) return false;
  for (unsigned b = 2 + 2 * count; b < 32; ++b)
    if (entry[b] != 0) return false;
  return true;
}

bool CheckExfatEntrySets(std::span<const std::uint8_t> sector, unsigned first) {
  if (sector.size() < 512) return false;
  bool completed = false;
  unsigned remaining = 0;
  bool inSet = false, expectStream = false;
  for (unsigned i = first; i < 16; ++i) {
    const std::uint8_t* e = sector.data() + i * 32;
    const std::uint8_t type = e[0];
    if (type == 0) return completed;
    if (inSet) {
      bool ok = expectStream ? (type == 0xC0 || type == 0x40) : (type == 0xC1 || type == 0x41);
      if (!ok) return false;
      expectStream = false;
      if (--remaining == 0) {
        inSet = false;
        completed = true;
      }
      continue;
    }
    if (type == 0x83 || type == 0x03) {
      if (!IsExfatLabelEntry(e)) return false;
    } else if (type == 0x85 || type == 0x05) {
      remaining = e[1];
      inSet = remaining > 0;
      expectStream = true;
    } else if (type != 0xC0 && type != 0x40 && type != 0xC1 && type != 0x41) {
      return false;
    }
  }
  return completed;
}

bool IsExfatRootDirectory(std::span<const std::uint8_t> sector) {
  if (sector.size() < 512) return false;
  const std::uint8_t* s = sector.data();
  return IsExfatLabelEntry(s) && s[32] == 0x81 && s[64] == 0x82 && CheckExfatEntrySets(sector, 3);
}

std::uint16_t ExfatSetChecksum(std::span<const std::uint8_t> entries) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i == 2 || i == 3) continue;
    std::uint8_t b = entries[i];
    if (i % 32 == 0) b |= 0x80;
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
  }
  return sum;
}

bool IsExfatFolderStart(std::span<const std::uint8_t> bytes) {
  const ByteCursor c(bytes);
  if (!c.Contains(0, 64)) return false;
  const std::uint8_t type = c.UncheckedU8(0);
  if (type != 0x85 && type != 0x05) return false;
  const bool deleted = type == 0x05;
  // A stream extension and 1..17 name entries (255 characters at most).
  const unsigned secondaries = c.UncheckedU8(1);
  if (secondaries < 2 || secondaries > 18) return false;
  const std::uint64_t setBytes = (std::uint64_t(secondaries) + 1) * 32;
  if (!c.Contains(0, setBytes)) return false;
  if (c.UncheckedU8(32) != (deleted ? 0x40 : 0xC0)) return false;
  const unsigned nameLength = c.UncheckedU8(32 + 3);
  if (nameLength == 0 || (nameLength + 14) / 15 != secondaries - 1) return false;
  for (unsigned i = 2; i <= secondaries; ++i)
    if (c.UncheckedU8(i * 32) != (deleted ? 0x41 : 0xC1)) return false;
  return ExfatSetChecksum(bytes.first(static_cast<std::size_t>(setBytes))) == c.UncheckedU16(2);
}

std::size_t ExfatFolderPieceStart(std::span<const std::uint8_t> bytes) {
  const std::size_t entries = bytes.size() / 32;
  if (entries == 0) return 0;
  const bool live = bytes[0] == 0xC0 || bytes[0] == 0xC1;
  for (std::size_t k = 0; k < entries && k <= 18; ++k) {
    const std::uint8_t type = bytes[k * 32];
    if (type == 0x85 || type == 0x05)
      return k > 0 && IsExfatFolderStart(bytes.subspan(k * 32)) ? k * 32 : 0;
    const bool stream = type == (live ? 0xC0 : 0x40), name = type == (live ? 0xC1 : 0x41);
    if (!name && !(stream && k == 0)) return 0;
  }
  return 0;
}

}  // namespace ambrel
