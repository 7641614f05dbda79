#include "video/sample_map.h"

#include <algorithm>

namespace ambrel::video {
namespace {

using Positions = std::vector<std::uint64_t>;

// The index of `value` in `c` at or after `from`, or c.size().
std::size_t FindFrom(const Positions& c, std::size_t from, std::uint64_t value) {
  if (from >= c.size()) return c.size();
  auto it = std::lower_bound(c.begin() + static_cast<std::ptrdiff_t>(from), c.end(), value);
  return (it != c.end() && *it == value) ? static_cast<std::size_t>(it - c.begin()) : c.size();
}

// The disk position of sample `to` when it lies at the same distance from
// sample `from` as in the file; false when that falls outside 64 bits.
bool Shifted(const Positions& s, std::uint64_t at, std::size_t from, std::size_t to, std::uint64_t& out) {
  if (s[to] >= s[from]) {
    const std::uint64_t d = s[to] - s[from];
    if (at > UINT64_MAX - d) return false;
    out = at + d;
  } else {
    const std::uint64_t d = s[from] - s[to];
    if (at < d) return false;
    out = at - d;
  }
  return true;
}

// The candidates' indices by their offset within a sector, in order: an
// anchor keeps its sample's offset within the sector.
using PhaseIndex = std::vector<std::vector<std::uint32_t>>;

PhaseIndex ByPhase(const Positions& c) {
  PhaseIndex index(512);
  for (std::size_t i = 0; i < c.size(); ++i) index[c[i] % 512].push_back(static_cast<std::uint32_t>(i));
  return index;
}

// The first candidate for sample k whose three followers are candidates
// too, each after the one before; its index, or c.size().
std::size_t FindAnchor(const Positions& s, const Positions& c, const PhaseIndex& phases, std::size_t k) {
  for (const std::uint32_t i : phases[s[k] % 512]) {
    std::size_t at = i;
    bool all = true;
    for (std::size_t j = 1; j <= 3 && all; ++j) {
      std::uint64_t want = 0;
      if (s[k + j] <= s[k] || !Shifted(s, c[i], k, k + j, want)) {
        all = false;
        break;
      }
      at = FindFrom(c, at + 1, want);
      all = at < c.size();
    }
    if (all) return i;
  }
  return c.size();
}

}  // namespace

bool MapSamples(const Positions& s, const Positions& c, Positions& m) {
  const std::size_t n = s.size();
  m.assign(n, 0);
  if (n < 8 || c.size() > UINT32_MAX) return false;
  const PhaseIndex phases = ByPhase(c);
  int failures = 0;
  std::size_t k = 1;
  while (k + 6 < n) {
    const std::size_t anchor = k + 4 < n ? FindAnchor(s, c, phases, k) : c.size();
    if (anchor == c.size()) {
      if (++failures > kMaxAnchorFailures) return false;
      k += 3;
      continue;
    }
    m[k] = c[anchor];
    std::size_t last = k, at = anchor;
    int misses = 0;
    for (std::size_t i = k + 1; i < n; ++i) {
      std::uint64_t want = 0;
      const std::size_t found = Shifted(s, m[last], last, i, want) ? FindFrom(c, at + 1, want) : c.size();
      if (found < c.size()) {
        m[i] = want;
        last = i;
        at = found;
        misses = 0;
      } else if (++misses > kMaxRunMisses) {
        break;
      }
    }
    k = last + 1;
  }
  return true;
}

bool CheckCoverage(const Positions& s, Positions& m) {
  const std::size_t n = s.size();
  if (m.size() != n || n == 0) return false;
  std::size_t first = n, last = 0, count = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (m[i] == 0) continue;
    if (first == n) first = i;
    last = i;
    ++count;
  }
  if (count == 0 || count < n / 4 || first > kMaxFirstMapped) return false;
  for (std::size_t i = 0; i < first; ++i)
    if (!Shifted(s, m[first], first, i, m[i])) return false;
  for (std::size_t i = last + 1; i < n; ++i)
    if (!Shifted(s, m[last], last, i, m[i])) return false;
  return true;
}

bool FillGaps(const Positions& s, Positions& m) {
  if (m.size() != s.size() || m.empty() || m[0] == 0) return false;
  for (std::size_t i = 1; i < s.size(); ++i)
    if (m[i] == 0 && !Shifted(s, m[i - 1], i - 1, i, m[i])) return false;
  return true;
}

}  // namespace ambrel::video
