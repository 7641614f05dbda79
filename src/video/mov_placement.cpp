#include "video/mov_placement.h"

#include <algorithm>
#include <map>
#include <set>

#include "common/text.h"
#include "video/sample_checks.h"

namespace ambrel::video {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kMaxCluster = 0x2000000;  // 32 MiB, exFAT's largest
// Bases that disagree with the cluster grid may be at most this share of
// the items placed (per mille) for a grid to be taken.
constexpr std::uint64_t kGridTolerancePerMille = 5;
// Positions of one length beyond which a search is not worth its reads.
constexpr std::size_t kMaxLocateCandidates = 4096;
constexpr std::size_t kMaxBreakCandidates = 4096;
constexpr std::size_t kScanPiece = 0x10000;

// The file at one base.
class BaseReader final : public FileReader {
 public:
  BaseReader(ByteSource& disk, std::uint64_t base) : disk_(disk), base_(base) {}
  bool Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) override {
    return disk_.ReadAt(base_ + offset, out, length);
  }

 private:
  ByteSource& disk_;
  std::uint64_t base_;
};

// The file in pieces: runs sorted by file offset.
class RunReader final : public FileReader {
 public:
  RunReader(ByteSource& disk, const std::vector<PlacedRun>& runs) : disk_(disk), runs_(runs) {}
  bool Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) override {
    while (length > 0) {
      const PlacedRun* run = nullptr;
      for (const PlacedRun& r : runs_)
        if (offset >= r.fileFrom && offset < r.fileTo) run = &r;
      if (!run) return false;
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(length, run->fileTo - offset));
      if (!disk_.ReadAt(run->base + offset, out, take)) return false;
      out += take;
      offset += take;
      length -= take;
    }
    return true;
  }

 private:
  ByteSource& disk_;
  const std::vector<PlacedRun>& runs_;
};

std::uint64_t RoundUp(std::uint64_t v, std::uint64_t unit) { return unit ? (v + unit - 1) / unit * unit : v; }

bool Checkable(const PlacementItem& item) {
  return item.kind == ItemKind::kBytes || item.format != SampleFormat::kUnknown;
}

// Four sync bytes a transport-stream packet apart (192 or 188 bytes):
// never in a NAL unit's payload.
bool LooksLikeTransportStream(const std::uint8_t* p, std::size_t n) {
  for (std::size_t stride : {std::size_t{192}, std::size_t{188}}) {
    if (n < 3 * stride + 1) continue;
    for (std::size_t i = 0; i + 3 * stride < n; ++i)
      if (p[i] == 0x47 && p[i + stride] == 0x47 && p[i + 2 * stride] == 0x47 && p[i + 3 * stride] == 0x47)
        return true;
  }
  return false;
}

// No NAL payload byte of the video items in [from, to) (file offsets)
// holds a start code or a run of transport-stream packets, read through
// `file`.
bool PayloadsClean(FileReader& file, const std::vector<PlacementItem>& items, std::size_t first,
                   std::size_t last, std::uint64_t from, std::uint64_t to) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  std::vector<std::uint8_t> buffer(kScanPiece);
  for (std::size_t k = first; k <= last && k < items.size(); ++k) {
    const PlacementItem& item = items[k];
    if (!item.video || item.kind != ItemKind::kSample) continue;
    if (item.offset + item.size <= from || item.offset >= to) continue;
    ranges.clear();
    if (!NalPayloadRanges(file, item.offset, static_cast<std::uint32_t>(item.size), item.nalLengthBytes, ranges))
      return false;
    for (const auto& [rangeFrom, rangeTo] : ranges) {
      std::uint64_t at = std::max(rangeFrom, from);
      const std::uint64_t end = std::min(rangeTo, to);
      int zeros = 0;
      while (at < end) {
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(end - at, kScanPiece));
        if (!file.Read(at, buffer.data(), take)) return false;
        if (!FreeOfStartCodes(buffer.data(), take, zeros)) return false;
        if (LooksLikeTransportStream(buffer.data(), take)) return false;
        at += take;
      }
    }
  }
  return true;
}

}  // namespace

void NalStartIndex::Add(std::uint64_t position, std::uint32_t length) { entries_.push_back({length, position}); }

void NalStartIndex::Finish() {
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    return a.length != b.length ? a.length < b.length : a.position < b.position;
  });
  entries_.erase(std::unique(entries_.begin(), entries_.end(),
                             [](const Entry& a, const Entry& b) {
                               return a.length == b.length && a.position == b.position;
                             }),
                 entries_.end());
}

std::vector<std::uint64_t> NalStartIndex::WithLength(std::uint32_t length) const {
  auto lo = std::lower_bound(entries_.begin(), entries_.end(), length,
                             [](const Entry& e, std::uint32_t l) { return e.length < l; });
  std::vector<std::uint64_t> out;
  for (auto it = lo; it != entries_.end() && it->length == length; ++it) out.push_back(it->position);
  return out;
}

int MovPlacer::Add(std::vector<PlacementItem> items, std::uint64_t fileEnd, std::uint64_t startBase) {
  Rec r;
  r.items = std::move(items);
  r.fileEnd = fileEnd;
  r.startBase = startBase;
  recordings_.push_back(std::move(r));
  return static_cast<int>(recordings_.size() - 1);
}

bool MovPlacer::Strong(const PlacementItem& item) const {
  if (item.kind == ItemKind::kBytes) return true;
  switch (item.format) {
    case SampleFormat::kAvc: case SampleFormat::kHevc: case SampleFormat::kAc3: case SampleFormat::kEac3:
      return true;
    default:
      return false;
  }
}

bool MovPlacer::Check(const PlacementItem& item, std::uint64_t base, std::uint32_t* lastByte) {
  if (base % kSector != 0) return false;
  if (item.kind == ItemKind::kBytes) {
    std::vector<std::uint8_t> bytes(item.expect.size());
    if (!disk_.ReadAt(base + item.offset, bytes.data(), bytes.size()) || bytes != item.expect) return false;
    if (lastByte) *lastByte = static_cast<std::uint32_t>(item.expect.empty() ? 0 : item.expect.size() - 1);
    return true;
  }
  BaseReader reader(disk_, base);
  const SampleCheck c = CheckSample(reader, item.offset, static_cast<std::uint32_t>(item.size), item.format,
                                    item.nalLengthBytes);
  if (lastByte) *lastByte = c.lastByte;
  return c.checkable && c.ok;
}

// A video sample that opens at none of the bases tried: positions whose
// length field makes the sample one slice (or a delimiter and one slice).
std::optional<std::uint64_t> MovPlacer::Locate(Rec& r, std::size_t i) {
  if (!index_) return std::nullopt;
  const PlacementItem& item = r.items[i];
  const std::uint64_t width = item.nalLengthBytes;
  std::set<std::uint64_t> bases;
  for (std::uint64_t prefix : {std::uint64_t{0}, width + 2}) {
    if (item.size <= prefix + width) continue;
    const auto length = static_cast<std::uint32_t>(item.size - prefix - width);
    const std::vector<std::uint64_t> at = index_->WithLength(length);
    if (at.size() > kMaxLocateCandidates) continue;
    for (std::uint64_t p : at) {
      const std::uint64_t base = p - prefix - item.offset;  // modulo 2^64, as every base
      if (base % kSector == 0 && Check(item, base)) bases.insert(base);
    }
  }
  if (bases.size() == 1) return *bases.begin();
  // Several: the one this recording already uses.
  std::optional<std::uint64_t> known;
  int count = 0;
  for (std::uint64_t b : bases) {
    const bool used = b == r.startBase || std::find(r.base.begin(), r.base.end(), std::optional<std::uint64_t>(b)) != r.base.end();
    if (used) {
      known = b;
      ++count;
    }
  }
  return count == 1 ? known : std::nullopt;
}

void MovPlacer::Assign(Rec& r) {
  const std::size_t n = r.items.size();
  r.base.assign(n, std::nullopt);
  r.lastByte.assign(n, 0);
  std::optional<std::uint64_t> previous = r.startBase;
  for (std::size_t i = 0; i < n; ++i) {
    const PlacementItem& item = r.items[i];
    if (!Strong(item)) continue;
    std::vector<std::uint64_t> tries;
    if (item.hint) tries.push_back(item.hint);
    if (previous) tries.push_back(*previous);
    tries.push_back(r.startBase);
    for (std::uint64_t base : tries) {
      std::uint32_t last = 0;
      if (Check(item, base, &last)) {
        r.base[i] = base;
        r.lastByte[i] = last;
        break;
      }
    }
    if (!r.base[i] && item.video) {
      if (auto found = Locate(r, i)) {
        std::uint32_t last = 0;
        Check(item, *found, &last);
        r.base[i] = found;
        r.lastByte[i] = last;
      }
    }
    if (r.base[i]) previous = r.base[i];
  }
}

// The largest power of two that the bases agree on modulo, the start bases
// all and the other bases but a few; bases off that grid are dropped.
void MovPlacer::EstimateCluster() {
  std::map<std::uint64_t, std::uint64_t> weight;  // base -> items placed there
  std::vector<std::uint64_t> starts;
  for (Rec& r : recordings_) {
    starts.push_back(r.startBase);
    for (const auto& b : r.base)
      if (b) ++weight[*b];
  }
  cluster_ = 0;
  if (recordings_.empty()) return;
  bool pieces = false;
  for (const Rec& r : recordings_)
    for (const auto& b : r.base)
      if (b && *b != r.startBase) pieces = true;
  if (!pieces) return;
  std::uint64_t total = 0;
  for (const auto& [b, w] : weight) total += w;
  const std::uint64_t ref = starts.front();
  for (std::uint64_t c = kMaxCluster; c >= kSector; c /= 2) {
    bool startsAgree = std::all_of(starts.begin(), starts.end(), [&](std::uint64_t s) { return s % c == ref % c; });
    if (!startsAgree) continue;
    std::uint64_t off = 0;
    for (const auto& [b, w] : weight)
      if (b % c != ref % c) off += w;
    if (off * 1000 <= total * kGridTolerancePerMille) {
      cluster_ = c;
      break;
    }
  }
  if (cluster_ == 0) cluster_ = kSector;
  for (Rec& r : recordings_)
    for (auto& b : r.base)
      if (b && *b % cluster_ != ref % cluster_) b.reset();
}

void MovPlacer::CollectClaims() {
  claims_.clear();
  for (std::size_t k = 0; k < recordings_.size(); ++k) {
    const Rec& r = recordings_[k];
    for (std::size_t i = 0; i < r.items.size(); ++i) {
      if (!r.base[i]) continue;
      const std::uint64_t from = *r.base[i] + r.items[i].offset;
      claims_.push_back({from, from + r.lastByte[i] + 1, k, *r.base[i]});
    }
  }
  std::sort(claims_.begin(), claims_.end(), [](const Claim& a, const Claim& b) { return a.from < b.from; });
}

// Whether disk bytes [from, to), placed at `base` for `recording`, hold
// bytes another placement was checked at.
bool MovPlacer::ClaimedByOther(std::size_t recording, std::uint64_t base, std::uint64_t from,
                               std::uint64_t to) const {
  if (from >= to) return false;
  // Claims are short (an item's checked bytes): look back a little.
  auto it = std::lower_bound(claims_.begin(), claims_.end(), from,
                             [](const Claim& c, std::uint64_t at) { return c.from < at; });
  while (it != claims_.begin() && std::prev(it)->to > from && from - std::prev(it)->from < 0x10000) --it;
  for (; it != claims_.end() && it->from < to; ++it) {
    if (it->to <= from) continue;
    if (it->recording != recording || it->base != base) return true;
  }
  return false;
}

void MovPlacer::FindBreaks(Rec& r) {
  r.breaks.clear();
  std::optional<std::size_t> previous;
  for (std::size_t i = 0; i < r.items.size(); ++i) {
    if (!r.base[i]) continue;
    if (previous && *r.base[*previous] != *r.base[i]) {
      Break b;
      b.before = *previous;
      b.after = i;
      b.baseBefore = *r.base[*previous];
      b.baseAfter = *r.base[i];
      b.low = r.items[*previous].offset + r.lastByte[*previous];
      b.high = r.items[i].offset;
      r.breaks.push_back(b);
    }
    previous = i;
  }
}

bool MovPlacer::Feasible(Rec& r, const Break& b, std::uint64_t at) {
  const auto self = static_cast<std::size_t>(&r - recordings_.data());
  if (ClaimedByOther(self, b.baseBefore, b.baseBefore + b.low + 1, b.baseBefore + at) ||
      ClaimedByOther(self, b.baseAfter, b.baseAfter + at, b.baseAfter + b.high))
    return false;
  const std::vector<PlacedRun> runs = {{b.baseBefore, 0, at}, {b.baseAfter, at, UINT64_MAX}};
  RunReader reader(disk_, runs);
  for (std::size_t k = b.before; k <= b.after; ++k) {
    const PlacementItem& item = r.items[k];
    if (!Checkable(item)) continue;
    if (item.kind == ItemKind::kBytes) {
      std::vector<std::uint8_t> bytes(item.expect.size());
      if (!reader.Read(item.offset, bytes.data(), bytes.size()) || bytes != item.expect) return false;
      continue;
    }
    const SampleCheck c = CheckSample(reader, item.offset, static_cast<std::uint32_t>(item.size), item.format,
                                      item.nalLengthBytes);
    if (!c.ok) return false;
  }
  return PayloadsClean(reader, r.items, b.before, b.after, b.low + 1, b.high);
}

void MovPlacer::Candidates(Rec& r, Break& b) {
  b.feasible.clear();
  if (b.low >= b.high) return;
  for (std::uint64_t c = std::max(cluster_, kSector); c >= kSector; c /= 2) {
    // The two bases of one file sit on the same cluster grid.
    if (b.baseBefore % c != b.baseAfter % c) continue;
    const std::uint64_t first = (b.low / c + 1) * c;
    if (first > b.high || (b.high - first) / c >= kMaxBreakCandidates) continue;
    for (std::uint64_t at = first; at <= b.high; at += c)
      if (Feasible(r, b, at)) b.feasible.push_back(at);
    if (!b.feasible.empty()) break;
  }
  if (b.feasible.size() == 1) {
    b.chosen = b.feasible.front();
    b.settled = true;
  }
  r.result.notes.push_back(Format("break after 0x%llx up to 0x%llx, bases 0x%llx -> 0x%llx: %zu candidate(s)",
                                  static_cast<unsigned long long>(b.low), static_cast<unsigned long long>(b.high),
                                  static_cast<unsigned long long>(b.baseBefore),
                                  static_cast<unsigned long long>(b.baseAfter), b.feasible.size()));
}

// Pieces of a card tile its used area: a break whose candidates leave
// exactly one where another piece ends or starts is settled there.
void MovPlacer::SettleByNeighbours() {
  const std::uint64_t unit = std::max(cluster_, kSector);
  std::set<std::uint64_t> starts, ends;
  auto addRec = [&](const Rec& r) {
    starts.insert(r.startBase);
    std::uint64_t lastBase = r.startBase;
    for (const Break& b : r.breaks) {
      lastBase = b.baseAfter;
      if (!b.settled) continue;
      ends.insert(b.baseBefore + *b.chosen);
      starts.insert(b.baseAfter + *b.chosen);
    }
    ends.insert(lastBase + RoundUp(r.fileEnd, unit));
  };
  for (const Rec& r : recordings_) addRec(r);
  for (bool changed = true; changed;) {
    changed = false;
    for (Rec& r : recordings_) {
      for (Break& b : r.breaks) {
        if (b.settled || b.feasible.size() < 2) continue;
        std::optional<std::uint64_t> match;
        int count = 0;
        for (std::uint64_t at : b.feasible) {
          if (starts.count(b.baseBefore + at) || ends.count(b.baseAfter + at)) {
            match = at;
            ++count;
          }
        }
        if (count != 1) continue;
        b.chosen = match;
        b.settled = true;
        ends.insert(b.baseBefore + *match);
        starts.insert(b.baseAfter + *match);
        r.result.notes.push_back(Format("break at 0x%llx settled by a neighbouring piece",
                                        static_cast<unsigned long long>(*match)));
        changed = true;
      }
    }
  }
}

void MovPlacer::Finish(Rec& r) {
  PlacementResult& out = r.result;
  out.runs.clear();
  out.breaksSettled = true;
  out.placed = true;
  std::uint64_t from = 0, base = r.startBase;
  for (Break& b : r.breaks) {
    if (!b.settled) out.breaksSettled = false;
    if (!b.chosen) {
      // Not placed by the data: the latest sector boundary before the
      // first item of the next piece.
      out.placed = false;
      const std::uint64_t guess = b.high / kSector * kSector;
      b.chosen = guess > b.low ? guess : b.high;
      out.notes.push_back(Format("break between 0x%llx and 0x%llx not placed (%zu candidates)",
                                 static_cast<unsigned long long>(b.low), static_cast<unsigned long long>(b.high),
                                 b.feasible.size()));
    }
    if (*b.chosen <= from) continue;
    out.runs.push_back({base, from, *b.chosen});
    from = *b.chosen;
    base = b.baseAfter;
  }
  out.runs.push_back({base, from, r.fileEnd});
  // Every item read through the pieces.
  RunReader reader(disk_, out.runs);
  out.samplesChecked = out.samplesVerified = 0;
  bool bytesOk = true;
  for (const PlacementItem& item : r.items) {
    if (item.kind == ItemKind::kBytes) {
      std::vector<std::uint8_t> bytes(item.expect.size());
      if (!reader.Read(item.offset, bytes.data(), bytes.size()) || bytes != item.expect) bytesOk = false;
      continue;
    }
    if (item.format == SampleFormat::kUnknown) continue;
    ++out.samplesChecked;
    const SampleCheck c = CheckSample(reader, item.offset, static_cast<std::uint32_t>(item.size), item.format,
                                      item.nalLengthBytes);
    if (c.ok) ++out.samplesVerified;
  }
  if (!bytesOk) {
    out.placed = false;
    out.notes.push_back("the atoms of the recording do not all read back");
  }
  for (const Break& b : r.breaks) {
    if (!b.settled || !PayloadsClean(reader, r.items, b.before, b.after, b.low + 1, b.high)) {
      out.breaksSettled = false;
    }
  }
}

void MovPlacer::Run() {
  for (Rec& r : recordings_) Assign(r);
  EstimateCluster();
  CollectClaims();
  for (Rec& r : recordings_) {
    FindBreaks(r);
    for (Break& b : r.breaks) Candidates(r, b);
  }
  SettleByNeighbours();
  for (Rec& r : recordings_) Finish(r);
}

}  // namespace ambrel::video
