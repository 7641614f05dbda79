#include "deepscan/scan_state_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "common/text.h"
#include "platform/files.h"

namespace ambrel {
namespace {

constexpr std::size_t kSummaryBytes = 37;
constexpr char kMagicChecked[] = "QVD5";
constexpr char kMagicUnchecked[] = "QVD4";

// CRC-32 (zlib's polynomial) of any length, in pieces zlib's length type holds.
std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
  uLong value = crc;
  while (n > 0) {
    const std::size_t piece = std::min<std::size_t>(n, 0x40000000);
    value = crc32(value, p, static_cast<uInt>(piece));
    p += piece;
    n -= piece;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<ScanStateFormat> FormatOf(ByteSpan file) {
  if (file.size() < 4) return std::nullopt;
  if (std::memcmp(file.data(), kMagicChecked, 4) == 0) return ScanStateFormat::kChecked;
  if (std::memcmp(file.data(), kMagicUnchecked, 4) == 0) return ScanStateFormat::kUnchecked;
  return std::nullopt;
}

class Writer {
 public:
  void Bytes(const void* p, std::size_t n) {
    if (n == 0) return;
    const std::size_t at = out.size();
    out.resize(at + n);
    std::memcpy(out.data() + at, p, n);
  }
  void U8(std::uint8_t v) { out.push_back(v); }
  void U16(std::uint16_t v) { Le(v, 2); }
  void U32(std::uint32_t v) { Le(v, 4); }
  void U64(std::uint64_t v) { Le(v, 8); }
  std::vector<std::uint8_t> out;

 private:
  void Le(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
};

// The record's size rides in the first of two words that older writers left
// zero (readers before it ignore them): the 512-byte sectors of the record,
// so a resumed scan rebuilds 4 KiB-record volumes with their own size. Zero,
// as older files hold, reads back as the usual 1024-byte record.
void WriteSummary(Writer& w, const RecordSummaryView& s, std::uint32_t recordSectors) {
  const auto nameLength = static_cast<std::uint16_t>(std::min<std::size_t>(s.name.size(), 0xFFFF));
  const auto runsLength = static_cast<std::uint16_t>(std::min<std::size_t>(s.runs.size(), 0xFFFF));
  w.U32(s.parentRecord);
  w.U32(s.recordNumber);
  w.U32(recordSectors);
  w.U32(0);
  w.U16(nameLength);
  w.U16(runsLength);
  w.U64(s.dataSize);
  w.U64(s.allocatedSize);
  w.U8(s.flags);
  for (std::size_t k = 0; k < nameLength; ++k) w.U16(s.name[k]);
  w.Bytes(s.runs.data(), runsLength);
}

void WriteHit(Writer& w, const ScanHit& hit) {
  w.U8(hit.kind);
  w.U64(hit.lba);
  w.U8(hit.status);
  const std::uint32_t k = hit.kind;
  if (IsSignatureKind(k) || k == 200 || k == kHitFatDirectory) {
    w.U32(hit.aux1);
    w.U32(hit.aux2);
  } else if (k >= 201 && k <= 206) {
    if (hit.status == kStatusSized) {
      w.U32(static_cast<std::uint32_t>(hit.extra.size()));
      w.Bytes(hit.extra.data(), hit.extra.size());
    }
  } else if (k == 207 || k == 208) {
    std::uint8_t fragment[68] = {};
    std::memcpy(fragment, hit.extra.data(), std::min<std::size_t>(hit.extra.size(), 68));
    w.Bytes(fragment, 68);
  } else if (CarriesSectorCopy(k)) {
    SectorCopy zero{};
    w.Bytes(hit.sector ? hit.sector->data() : zero.data(), 512);
  } else if (k == kHitFileRecord) {
    const bool sized = hit.aux2 >= 1 && hit.aux2 <= 128 && (hit.aux2 & (hit.aux2 - 1)) == 0;
    WriteSummary(w, hit.record ? *hit.record : RecordSummaryView{}, sized ? hit.aux2 : 0);
  } else if (k == kHitIndxRecord) {
    w.U32(hit.aux1);
  }
}

// A reading position that fails once anything runs past the end.
class Reader {
 public:
  explicit Reader(ByteSpan bytes) : c_(bytes) {}
  bool Take(std::uint64_t n, ByteCursor& out) {
    auto sub = c_.Sub(pos_, n);
    if (!sub) return false;
    out = *sub;
    pos_ += n;
    return true;
  }
  template <typename T>
  bool Le(T& v) {
    ByteCursor b;
    if (!Take(sizeof(T), b)) return false;
    v = static_cast<T>(b.UIntN(0, sizeof(T)).value_or(0));
    return true;
  }
  std::uint64_t Remaining() const { return c_.size() - pos_; }

 private:
  ByteCursor c_;
  std::uint64_t pos_ = 0;
};

bool ReadSummary(Reader& r, FileRecordSummary& s, std::uint32_t& recordSectors) {
  ByteCursor head;
  if (!r.Take(kSummaryBytes, head)) return false;
  s.parentRecord = head.UncheckedU32(0);
  s.recordNumber = head.UncheckedU32(4);
  recordSectors = head.UncheckedU32(8);
  const std::uint16_t nameLength = head.UncheckedU16(16), runsLength = head.UncheckedU16(18);
  s.dataSize = head.UncheckedU64(20);
  s.allocatedSize = head.UncheckedU64(28);
  s.flags = head.UncheckedU8(36);
  ByteCursor name, runs;
  if (!r.Take(std::uint64_t(nameLength) * 2, name) || !r.Take(runsLength, runs)) return false;
  for (std::size_t k = 0; k < nameLength; ++k) s.name.push_back(name.UncheckedU16(2 * k));
  s.runs.assign(runs.data(), runs.data() + runs.size());
  return true;
}

bool ReadPayload(Reader& r, ScanHit& hit, RecordSummaryArena& arena) {
  const std::uint32_t k = hit.kind;
  ByteCursor b;
  if (IsSignatureKind(k) || k == 200 || k == kHitFatDirectory)
    return r.Le(hit.aux1) && r.Le(hit.aux2);
  if (k >= 201 && k <= 206) {
    if (hit.status != kStatusSized) return true;
    std::uint32_t n = 0;
    if (!r.Le(n) || !r.Take(n, b)) return false;
    hit.extra.assign(b.data(), b.data() + b.size());
    return true;
  }
  if (k == 207 || k == 208) {
    if (!r.Take(68, b)) return false;
    hit.extra.assign(b.data(), b.data() + b.size());
    return true;
  }
  if (CarriesSectorCopy(k)) {
    if (!r.Take(512, b)) return false;
    hit.sector = std::make_unique<SectorCopy>();
    std::memcpy(hit.sector->data(), b.data(), 512);
    return true;
  }
  if (k == kHitFileRecord) {
    FileRecordSummary summary;
    std::uint32_t recordSectors = 0;
    if (!ReadSummary(r, summary, recordSectors)) return false;
    hit.record = arena.Add(summary);
    // RecordSectorsOf takes anything but a power of two up to 64 KiB as
    // the usual two sectors.
    hit.aux2 = recordSectors;
    return true;
  }
  if (k == kHitIndxRecord) return r.Le(hit.aux1);
  return IsKnownHitKind(k);
}

bool ReadHeader(Reader& r, SavedScan& s, std::uint64_t chunkCount, bool& otherDisk) {
  ByteCursor magic, name, map;
  std::uint32_t n = 0, m = 0;
  if (!r.Take(4, magic) || !FormatOf(magic.span()) || !r.Le(n)) return false;
  if (n > kMaxSavedNameBytes || n % 2 != 0 || !r.Take(n, name)) return false;
  for (std::size_t i = 0; i < n / 2; ++i) s.diskName.push_back(name.UncheckedU16(2 * i));
  if (!r.Le(m)) return false;
  if (m != chunkCount) {
    otherDisk = true;
    return false;
  }
  if (!r.Take(m, map)) return false;
  s.chunkMap.assign(map.data(), map.data() + map.size());
  for (std::uint8_t v : s.chunkMap)
    if (v != 0 && v != 2) return false;
  return r.Le(s.cursor) && r.Le(s.rangeFirst) && r.Le(s.rangeLast);
}

// One hit record: kind, LBA, status and the kind's payload.
bool ReadHit(Reader& r, std::uint64_t chunkCount, ScanHit& hit, RecordSummaryArena& arena) {
  if (!r.Le(hit.kind) || !r.Le(hit.lba) || !r.Le(hit.status)) return false;
  if (!IsKnownHitKind(hit.kind) || hit.Chunk() >= chunkCount) return false;
  return ReadPayload(r, hit, arena);
}

}  // namespace

std::u16string SavedDiskName(const std::string& path) {
  std::u16string name = Utf8ToUtf16(path);
  if (name.size() > kMaxSavedNameBytes / 2) name.resize(kMaxSavedNameBytes / 2);
  return name;
}

std::vector<std::uint8_t> EncodeScanState(
    const std::u16string& diskName, const std::vector<std::uint8_t>& chunkMap, std::uint64_t cursor,
    std::uint64_t rangeFirst, std::uint64_t rangeLast,
    const std::function<void(const std::function<void(const ScanHit&)>&)>& forEachHit,
    const ScanStateWritten& written) {
  Writer w;
  w.Bytes(kMagicChecked, 4);
  const std::size_t units = std::min<std::size_t>(diskName.size(), kMaxSavedNameBytes / 2);
  w.U32(static_cast<std::uint32_t>(units * 2));
  for (std::size_t i = 0; i < units; ++i) w.U16(diskName[i]);
  w.U32(static_cast<std::uint32_t>(chunkMap.size()));
  for (std::uint8_t v : chunkMap) w.U8(v == 2 ? 2 : 0);
  w.U64(cursor);
  w.U64(rangeFirst);
  w.U64(rangeLast);
  const std::size_t countAt = w.out.size();
  w.U32(0);
  std::uint32_t count = 0;
  Writer block;
  std::uint32_t inBlock = 0;
  auto flush = [&] {
    if (inBlock == 0) return;
    const std::size_t headAt = w.out.size();
    w.U32(inBlock);
    w.U32(static_cast<std::uint32_t>(block.out.size()));
    w.Bytes(block.out.data(), block.out.size());
    w.U32(Crc32(0, w.out.data() + headAt, w.out.size() - headAt));
    block.out.clear();
    inBlock = 0;
  };
  forEachHit([&](const ScanHit& hit) {
    if (hit.kind == kHitDead) return;
    WriteHit(block, hit);
    ++count;
    if (++inBlock == kScanStateBlockHits) flush();
    if (written) written(count);
  });
  flush();
  for (int i = 0; i < 4; ++i) w.out[countAt + i] = static_cast<std::uint8_t>(count >> (8 * i));
  w.U32(Crc32(0, w.out.data(), w.out.size()));
  return std::move(w.out);
}

ScanStateFault CheckScanStateFile(ByteSpan file) {
  const auto format = FormatOf(file);
  if (!format) return ScanStateFault::kNotAStateFile;
  if (*format == ScanStateFormat::kUnchecked) return ScanStateFault::kNone;
  if (file.size() < 8) return ScanStateFault::kChecksum;
  const std::size_t body = file.size() - 4;
  const std::uint32_t stored = ByteCursor(file).UncheckedU32(body);
  return Crc32(0, file.data(), body) == stored ? ScanStateFault::kNone : ScanStateFault::kChecksum;
}

bool NamesDisk(ByteSpan file, const std::u16string& diskName) {
  Reader r(file);
  ByteCursor magic, name;
  std::uint32_t n = 0;
  if (!r.Take(4, magic) || !FormatOf(magic.span()) || !r.Le(n)) return false;
  if (n > kMaxSavedNameBytes || n % 2 != 0 || !r.Take(n, name)) return false;
  if (n / 2 != diskName.size()) return false;
  for (std::size_t i = 0; i < n / 2; ++i)
    if (name.UncheckedU16(2 * i) != diskName[i]) return false;
  return true;
}

std::optional<SavedScan> DecodeScanState(ByteSpan file, std::uint64_t chunkCount, const ScanStateRead& read,
                                         ScanStateFault* fault) {
  auto fail = [fault](ScanStateFault why) -> std::optional<SavedScan> {
    if (fault) *fault = why;
    return std::nullopt;
  };
  if (fault) *fault = ScanStateFault::kNone;
  if (const ScanStateFault whole = CheckScanStateFile(file); whole != ScanStateFault::kNone) return fail(whole);
  SavedScan s;
  s.format = *FormatOf(file);
  const bool checked = s.format == ScanStateFormat::kChecked;
  // The whole-file checksum is not part of the records.
  Reader r(checked ? file.first(file.size() - 4) : file);
  bool otherDisk = false;
  if (!ReadHeader(r, s, chunkCount, otherDisk))
    return fail(otherDisk ? ScanStateFault::kOtherDisk : ScanStateFault::kMalformed);
  std::uint32_t k = 0;
  // Every record takes at least 10 bytes: a count beyond that is false.
  if (!r.Le(k) || std::uint64_t(k) * 10 > r.Remaining()) return fail(ScanStateFault::kMalformed);
  s.hits.reserve(k);
  std::uint32_t done = 0;
  RecordSummaryArena arena;  // the summaries of every FILE-record hit read
  auto take = [&](Reader& records) -> bool {
    ScanHit hit;
    if (!ReadHit(records, chunkCount, hit, arena)) return false;
    s.hits.push_back(std::move(hit));
    ++done;
    return true;
  };
  if (!checked) {
    while (done < k) {
      if (!take(r)) return fail(ScanStateFault::kMalformed);
      if (read && !read(done, k)) return fail(ScanStateFault::kAbandoned);
    }
    return s;
  }
  while (done < k) {
    ByteCursor head, block;
    std::uint32_t stored = 0;
    if (!r.Take(8, head)) return fail(ScanStateFault::kMalformed);
    const std::uint32_t n = head.UncheckedU32(0), bytes = head.UncheckedU32(4);
    if (n == 0 || n > kScanStateBlockHits || n > k - done || !r.Take(bytes, block) || !r.Le(stored))
      return fail(ScanStateFault::kMalformed);
    if (Crc32(Crc32(0, head.data(), head.size()), block.data(), block.size()) != stored)
      return fail(ScanStateFault::kChecksum);
    Reader records(block.span());
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!take(records)) return fail(ScanStateFault::kMalformed);
      if (read && !read(done, k)) return fail(ScanStateFault::kAbandoned);
    }
    if (records.Remaining() != 0) return fail(ScanStateFault::kMalformed);  // the block holds its records exactly
  }
  if (r.Remaining() != 0) return fail(ScanStateFault::kMalformed);
  return s;
}

bool WriteScanStateFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const std::string temporary = path + ".tmp";
  if (!WriteWholeFile(temporary, bytes.data(), bytes.size())) {
    RemoveFile(temporary);
    return false;
  }
  if (!RenameFile(temporary, path)) {
    RemoveFile(temporary);
    return false;
  }
  return true;
}

}  // namespace ambrel
