#include "video/mov_chunk_scan.h"

#include <algorithm>
#include <cstring>

#include "video/atoms.h"
#include "video/sample_checks.h"

namespace ambrel::video {
namespace {

constexpr std::uint32_t kMinChainLength = 8192;       // exclusive
constexpr std::uint32_t kMaxChainLength = 0x200000;   // exclusive
constexpr std::size_t kMinChainUnits = 5;
constexpr std::uint64_t kUsedMarkBytes = 0x800000;    // offsets below this are marked used
constexpr std::uint64_t kFtypMaxSize = 510;

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

bool InChainRange(std::uint32_t v) { return v > kMinChainLength && v < kMaxChainLength; }

// Every atom start p whose type (at p + 4) is "moov" or "mdat": found by
// their common first letter, which compressed media holds once in 256
// bytes.
template <typename Fn>
void ForEachMovieAtom(ByteSpan bytes, Fn fn) {
  const std::uint8_t* data = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t at = 4;
  while (at + 4 <= n) {
    const void* hit = std::memchr(data + at, 'm', n - 3 - at);
    if (!hit) break;
    const std::size_t pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (std::memcmp(data + pos, "moov", 4) == 0) fn(pos - 4, AtomKind::kMoov);
    else if (std::memcmp(data + pos, "mdat", 4) == 0) fn(pos - 4, AtomKind::kMdat);
    at = pos + 1;
  }
}

}  // namespace

// Reads the word at `offset` of the chain window: from the chunk, or past
// it from `beyond`.
class ChainWords {
 public:
  ChainWords(ByteSpan chunk, std::uint64_t chunkByte, ByteSource* beyond)
      : chunk_(chunk), base_(chunkByte), beyond_(beyond) {}
  std::optional<std::uint32_t> At(std::uint64_t offset) {
    if (offset + 4 > kChainWindowBytes) return std::nullopt;
    if (offset + 4 <= chunk_.size()) return Be32(chunk_.data() + offset);
    if (!beyond_) return std::nullopt;
    return WordAt(*beyond_, base_ + offset);
  }

 private:
  ByteSpan chunk_;
  std::uint64_t base_;
  ByteSource* beyond_;
};

namespace {

// The units of the chain that starts at `start`: a unit is taken while its
// length and the lengths of the next two units lie in the range.
void FollowChain(ChainWords& words, std::uint64_t start, bool padded, std::vector<std::uint64_t>& units) {
  units.clear();
  auto next = [padded](std::uint64_t at, std::uint32_t length) {
    return padded ? at + (std::uint64_t{length} + 11) / 8 * 8 : at + 4 + std::uint64_t{length};
  };
  std::uint64_t at = start;
  // A chain cannot hold more units than the window has room for.
  while (units.size() < kChainWindowBytes / kMinChainLength) {
    auto l0 = words.At(at);
    if (!l0 || !InChainRange(*l0)) break;
    const std::uint64_t at1 = next(at, *l0);
    auto l1 = words.At(at1);
    if (!l1 || !InChainRange(*l1)) break;
    auto l2 = words.At(next(at1, *l1));
    if (!l2 || !InChainRange(*l2)) break;
    units.push_back(at);
    at = at1;
  }
}

}  // namespace

void ChunkFinds::Clear() {
  atoms.clear();
  for (auto& list : candidates) list.clear();
  pictures.clear();
}

std::uint8_t PictureHeaderType(const std::uint8_t* p) {
  const std::uint32_t w = Be32(p);
  if (w == 0x49492A00 || w == 0x49495500 || w == 0x4D4D002A || w == 0x4949524F) return 49;
  if (p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) {
    switch (p[3]) {
      case 0xC4: case 0xDB: case 0xE0: case 0xE1: case 0xE9: case 0xEB: case 0xEE: case 0xFE:
        return 46;
      default:
        break;
    }
  }
  return 0;
}

// The length-chain rule at `at`: a chain of at least five units is kept,
// its units recorded and marked so that no later chain starts at them.
void MovChunkScanner::TryChain(ChainWords& words, std::size_t at, bool padded, std::vector<std::uint32_t>& out) {
  while (!used_.empty() && used_.top() < at) used_.pop();
  if (!used_.empty() && used_.top() == at) return;
  FollowChain(words, at, false, units_);
  if (padded && units_.size() < kMinChainUnits) {
    FollowChain(words, at, true, paddedUnits_);
    if (paddedUnits_.size() > units_.size()) units_.swap(paddedUnits_);
  }
  if (units_.size() < kMinChainUnits) return;
  for (std::uint64_t unit : units_) {
    if (unit < kUsedMarkBytes && unit > at) used_.push(static_cast<std::uint32_t>(unit));
    out.push_back(static_cast<std::uint32_t>(unit));
  }
}

void MovChunkScanner::Scan(ByteSpan chunk, std::uint64_t chunkByte, const CandidateSwitches& on,
                           ByteSource* beyond, ChunkFinds& out) {
  out.Clear();
  const std::uint8_t* d = chunk.data();
  const std::size_t n = chunk.size();
  if (n < 8) return;

  // Picture headers at sector starts.
  for (std::size_t s = 0; s + 4 <= n; s += 512)
    if (const std::uint8_t type = PictureHeaderType(d + s))
      out.pictures.push_back({static_cast<std::uint32_t>(s / 512), type});

  // The atoms, by their type after the size word; an ftyp only at a
  // sector start.
  for (std::size_t at = 0; at + 8 <= n; at += 512) {
    if (std::memcmp(d + at + 4, "ftyp", 4) != 0) continue;
    const std::uint32_t size = Be32(d + at);
    if (size == 0 || size > kFtypMaxSize) continue;
    out.atoms.push_back({AtomKind::kFtyp, static_cast<std::uint32_t>(at), size, false});
  }
  ForEachMovieAtom(chunk, [&](std::size_t at, AtomKind kind) {
    std::uint64_t size = Be32(d + at);
    if (kind == AtomKind::kMoov) {
      if (size == 0 || size >= kMaxMoovBytes) return;
    } else if (size == 1) {
      if (at + 16 > n) return;
      size = (std::uint64_t{Be32(d + at + 8)} << 32) | Be32(d + at + 12);
    }
    // An mdat size of 0 runs to the end of the file: unknown here.
    out.atoms.push_back({kind, static_cast<std::uint32_t>(at), size, false});
  });

  // The sample-start tests: every one needs a zero first byte.
  used_ = {};
  ChainWords words(chunk, chunkByte, beyond);
  auto& chains = out.candidates[std::size_t(CandidateList::kSize)];
  auto& startCode = out.candidates[std::size_t(CandidateList::kStartCode)];
  auto& length2 = out.candidates[std::size_t(CandidateList::kLength2)];
  auto& length20 = out.candidates[std::size_t(CandidateList::kLength20)];
  auto& nal = out.candidates[std::size_t(CandidateList::kNalStart)];
  std::size_t p = 0;
  while (p + 4 <= n) {
    if (d[p] != 0) {
      const void* z = std::memchr(d + p, 0, n - p);
      if (!z) break;
      p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(z) - d);
      if (p + 4 > n) break;
    }
    const std::uint32_t w = Be32(d + p);
    if (w == 0) {
      // A run of zeros: the next position worth a look is 3 bytes before
      // the next non-zero byte.
      std::size_t q = p + 4;
      while (q + 8 <= n) {
        std::uint64_t v;
        std::memcpy(&v, d + q, 8);
        if (v != 0) break;
        q += 8;
      }
      while (q < n && d[q] == 0) ++q;
      p = std::max(p + 1, q - 3);
      continue;
    }
    if (on.startCode && (w >> 8) == 1) startCode.push_back(static_cast<std::uint32_t>(p));
    if (on.length2 && w == 2) length2.push_back(static_cast<std::uint32_t>(p));
    if (on.length20 && p % 4 == 0 && (w == 32 || w == 36 || w == 40))
      length20.push_back(static_cast<std::uint32_t>(p));
    if (on.nalStart && w >= 2 && p + 6 <= n &&
        (AvcSampleStartHeader(d[p + 4]) || HevcSampleStartHeader(d[p + 4], d[p + 5])))
      nal.push_back(static_cast<std::uint32_t>(p));
    if (on.size && InChainRange(w)) TryChain(words, p, on.padded, chains);
    ++p;
  }
  std::sort(chains.begin(), chains.end());
  chains.erase(std::unique(chains.begin(), chains.end()), chains.end());
}

}  // namespace ambrel::video
