// Laying a sample table over candidate positions: anchors, runs, misses,
// coverage and gaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "video/sample_map.h"

namespace ambrel::video {
namespace {

using Positions = std::vector<std::uint64_t>;

// Sample offsets from 48 on, sizes 1000..5000.
Positions Samples(std::size_t n, std::uint32_t seed = 1) {
  std::mt19937 rng(seed);
  Positions s;
  std::uint64_t at = 48;
  for (std::size_t i = 0; i < n; ++i) {
    s.push_back(at);
    at += 1000 + rng() % 4001;
  }
  return s;
}

Positions Sorted(Positions p) {
  std::sort(p.begin(), p.end());
  p.erase(std::unique(p.begin(), p.end()), p.end());
  return p;
}

TEST(MapSamples, ARecordingInTwoPiecesIsMappedPieceByPiece) {
  const Positions s = Samples(40);
  const std::uint64_t base1 = 0x100000, base2 = 0x900000;
  Positions c;
  for (std::size_t i = 0; i < s.size(); ++i) c.push_back((i < 20 ? base1 : base2) + s[i]);
  c.push_back(0x300000 + 17);  // noise
  c = Sorted(c);
  Positions m;
  ASSERT_TRUE(MapSamples(s, c, m));
  // Sample 0 is never an anchor; 1..19 in the first piece, 20.. in the second.
  EXPECT_EQ(m[0], 0u);
  for (std::size_t i = 1; i < 20; ++i) EXPECT_EQ(m[i], base1 + s[i]) << i;
  for (std::size_t i = 20; i < 40; ++i) EXPECT_EQ(m[i], base2 + s[i]) << i;
  ASSERT_TRUE(CheckCoverage(s, m));
  EXPECT_EQ(m[0], base1 + s[0]);
}

TEST(MapSamples, AnAnchorKeepsTheSampleOffsetWithinItsSector) {
  const Positions s = Samples(12);
  // Every position is 8 bytes off its sector phase: nothing anchors.
  Positions c;
  for (std::uint64_t o : s) c.push_back(0x100008 + o);
  Positions m;
  MapSamples(s, Sorted(c), m);
  EXPECT_TRUE(std::all_of(m.begin(), m.end(), [](std::uint64_t v) { return v == 0; }));
  EXPECT_FALSE(CheckCoverage(s, m));
}

TEST(MapSamples, SevenSamplesOrFewerCannotBeAnchored) {
  const Positions s = Samples(7);
  Positions c;
  for (std::uint64_t o : s) c.push_back(0x100000 + o);
  Positions m;
  EXPECT_FALSE(MapSamples(s, Sorted(c), m));
  const Positions eight = Samples(8);
  c.clear();
  for (std::uint64_t o : eight) c.push_back(0x100000 + o);
  EXPECT_TRUE(MapSamples(eight, Sorted(c), m));
  EXPECT_EQ(m[1], 0x100000 + eight[1]);
}

TEST(MapSamples, MoreThanFiftyAnchorFailuresGiveUp) {
  const Positions s = Samples(400);
  Positions c;  // only the last samples are candidates
  for (std::size_t i = 300; i < s.size(); ++i) c.push_back(0x100000 + s[i]);
  Positions m;
  // k steps by 3 from 1: the 51st failure comes at k = 151, before 300.
  EXPECT_FALSE(MapSamples(s, Sorted(c), m));
}

TEST(CheckCoverage, TheFiftySecondSampleIsTooLateAsTheFirstMapped) {
  const Positions s = Samples(200);
  Positions m(s.size(), 0);
  for (std::size_t i = 50; i < s.size(); ++i) m[i] = 0x100000 + s[i];
  Positions accepted = m;
  EXPECT_TRUE(CheckCoverage(s, accepted));  // the 51st
  EXPECT_EQ(accepted[0], 0x100000 + s[0]);
  m[50] = 0;
  EXPECT_FALSE(CheckCoverage(s, m));        // the 52nd
}

TEST(CheckCoverage, FewerThanAQuarterMappedFails) {
  const Positions s = Samples(100);
  Positions m(s.size(), 0);
  for (std::size_t i = 1; i < 25; ++i) m[i] = 0x100000 + s[i];
  EXPECT_FALSE(CheckCoverage(s, m));
  m[25] = 0x100000 + s[25];
  EXPECT_TRUE(CheckCoverage(s, m));
}

TEST(FillGaps, AnUnmappedSampleFollowsItsPredecessor) {
  const Positions s = {0, 100, 300, 600};
  Positions m = {5000, 0, 9300, 0};
  ASSERT_TRUE(FillGaps(s, m));
  EXPECT_EQ(m, (Positions{5000, 5100, 9300, 9600}));
  Positions none = {0, 5, 0, 0};
  EXPECT_FALSE(FillGaps(s, none));
}

TEST(MapSamples, OffsetsThatRunBackwardsNeverMapOutsideSixtyFourBits) {
  Positions s = Samples(20);
  s[5] = 0;  // a damaged table
  Positions c;
  for (std::uint64_t o : s) c.push_back(o);  // base 0
  Positions m;
  ASSERT_TRUE(MapSamples(s, Sorted(c), m));
  for (std::size_t i = 0; i < m.size(); ++i) {
    if (m[i]) {
      EXPECT_EQ(m[i], s[i]);
    }
  }
}

}  // namespace
}  // namespace ambrel::video
