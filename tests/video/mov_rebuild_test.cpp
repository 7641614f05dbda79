// QuickTime recordings laid on a disk in pieces and rebuilt from what a
// scan of that disk records: the pieces found, the breaks between them
// placed on cluster boundaries by the data, and a recording only called
// verified when its bytes are right.
#include <gtest/gtest.h>

#include <algorithm>

#include "video/mov_rebuild.h"
#include "video/video_support.h"

namespace ambrel::video {
namespace {

using test::Bytes;
using test::Piece;

constexpr std::uint64_t kCluster = 4096;

// A card: free space reads as zeros; `noise` fills it with bytes that no
// test of a NAL payload can tell from one.
struct Disk {
  Bytes bytes;
  explicit Disk(std::uint64_t clusters, bool noise = false)
      : bytes(noise ? test::NoiseWithoutZeros(clusters * kCluster, 99) : Bytes(clusters * kCluster, 0)) {}
  void Zero(std::uint64_t cluster, std::uint64_t count) {
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(cluster * kCluster),
                static_cast<std::ptrdiff_t>(count * kCluster), 0);
  }
};

// What the scan records of the disk, chunk by chunk of 1 MiB.
MovScanFinds Scan(const Bytes& disk, CandidateSwitches on = {}) {
  MovScanFinds finds;
  MemoryByteSource all(ByteSpan(disk.data(), disk.size()), 0);
  MovChunkScanner scanner;
  ChunkFinds f;
  constexpr std::size_t kStep = 1 << 20;
  for (std::size_t at = 0; at < disk.size(); at += kStep) {
    const std::size_t n = std::min(kStep, disk.size() - at);
    scanner.Scan(ByteSpan(disk.data() + at, n), at, on, &all, f);
    for (const AtomFind& a : f.atoms) {
      const std::uint64_t position = at + a.offset;
      if (a.kind == AtomKind::kFtyp) finds.ftyps.push_back({position, static_cast<std::uint32_t>(a.size)});
      if (a.kind == AtomKind::kMdat) finds.mdats.push_back({position, a.size});
      if (a.kind == AtomKind::kMoov && position + a.size <= disk.size()) {
        const ByteSpan bytes(disk.data() + position, static_cast<std::size_t>(a.size));
        if (auto info = WalkMoov(bytes)) {
          MoovRecord m;
          m.position = position;
          m.info = std::move(*info);
          m.head.assign(bytes.begin(), bytes.begin() + 64);
          finds.moovs.push_back(std::move(m));
        }
      }
    }
    for (std::size_t l = 0; l < kCandidateLists; ++l)
      for (std::uint32_t o : f.candidates[l]) {
        finds.lists[l].push_back(at + o);
        if (l == std::size_t(CandidateList::kNalStart)) {
          const std::uint8_t* p = disk.data() + at + o;
          finds.nalIndex.Add(at + o, (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
                                         (std::uint32_t(p[2]) << 8) | p[3]);
        }
      }
  }
  finds.Finish();
  return finds;
}

std::vector<Recording> Rebuild(const Bytes& disk, std::vector<std::string>* log = nullptr) {
  MovScanFinds finds = Scan(disk);
  MemoryByteSource source(ByteSpan(disk.data(), disk.size()), 0);
  RebuildHooks hooks;
  if (log) hooks.log = [log](const std::string& line) { log->push_back(line); };
  if (getenv("VIDEO_TEST_LOG")) hooks.log = [](const std::string& line) { printf("%s\n", line.c_str()); };
  return RebuildMov(finds, source, MovRebuildSettings{}, hooks);
}

// The recording's bytes as a copy would read them.
Bytes Assemble(const Bytes& disk, const Recording& r) {
  Bytes out;
  for (const Fragment& f : r.fragments)
    out.insert(out.end(), disk.begin() + static_cast<std::ptrdiff_t>(f.startLba * 512),
               disk.begin() + static_cast<std::ptrdiff_t>((f.startLba + f.sectors) * 512));
  out.resize(static_cast<std::size_t>(r.size));
  return out;
}

std::uint64_t Clusters(const Bytes& file) { return (file.size() + kCluster - 1) / kCluster; }

const Recording* Named(const std::vector<Recording>& all, std::uint64_t lba) {
  for (const Recording& r : all)
    if (!r.fragments.empty() && r.fragments.front().startLba == lba) return &r;
  return nullptr;
}

TEST(MovRebuild, AContiguousRecordingIsOneVerifiedFragment) {
  test::ClipShape shape;
  const auto clip = test::MakeQuickTimeClip(shape);
  Disk disk(Clusters(clip.file) + 20);
  test::Lay(disk.bytes, clip.file, kCluster, {{0, Clusters(clip.file), 5}});
  const auto all = Rebuild(disk.bytes);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].verified);
  EXPECT_EQ(all[0].fragments, (std::vector<Fragment>{{5 * 8, (clip.file.size() + 511) / 512}}));
  EXPECT_EQ(all[0].size, clip.file.size());
  EXPECT_EQ(Assemble(disk.bytes, all[0]), clip.file);
  EXPECT_EQ(all[0].name, "0x28.mov");
  EXPECT_EQ(all[0].samplesChecked, all[0].samplesVerified);
}

TEST(MovRebuild, PiecesOutOfOrderBetweenOtherBytesComeBackExact) {
  test::ClipShape shape;
  shape.seed = 7;
  shape.videoSamples = 90;
  const auto clip = test::MakeQuickTimeClip(shape);
  const std::uint64_t n = Clusters(clip.file);
  ASSERT_GT(n, 60u);
  Disk disk(n + 100);
  // Four pieces; the third lies before the first on the disk.
  const std::vector<Piece> pieces = {{0, 20, 50}, {20, 15, 80}, {35, 20, 10}, {55, n - 55, 120}};
  test::Lay(disk.bytes, clip.file, kCluster, pieces);
  std::vector<std::string> log;
  const auto all = Rebuild(disk.bytes, &log);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].verified);
  EXPECT_EQ(Assemble(disk.bytes, all[0]), clip.file);
  ASSERT_EQ(all[0].fragments.size(), 4u);
  EXPECT_EQ(all[0].fragments[2], (Fragment{10 * 8, 20 * 8}));
}

// Between bytes that any NAL payload could hold, a break inside a sample
// has several places the data cannot choose between: the recording is
// written but not called verified.
TEST(MovRebuild, BreaksAmongPayloadLikeBytesAreNotCalledVerified) {
  test::ClipShape shape;
  shape.seed = 7;
  shape.videoSamples = 90;
  const auto clip = test::MakeQuickTimeClip(shape);
  const std::uint64_t n = Clusters(clip.file);
  Disk disk(n + 100, true);
  test::Lay(disk.bytes, clip.file, kCluster, {{0, 20, 50}, {20, 15, 80}, {35, 20, 10}, {55, n - 55, 120}});
  const auto all = Rebuild(disk.bytes);
  ASSERT_EQ(all.size(), 1u);
  if (Assemble(disk.bytes, all[0]) != clip.file) {
    EXPECT_FALSE(all[0].verified);
  }
}

TEST(MovRebuild, TwoRecordingsWrittenTogetherAreBothExactAndShareNothing) {
  test::ClipShape a, b;
  a.seed = 11;
  b.seed = 12;
  b.delimiters = true;
  b.videoSamples = 80;
  const auto clipA = test::MakeQuickTimeClip(a), clipB = test::MakeQuickTimeClip(b);
  const std::uint64_t na = Clusters(clipA.file), nb = Clusters(clipB.file);
  Disk disk(na + nb + 40);
  // Interleaved runs of 9 and 7 clusters from cluster 4 on.
  std::vector<Piece> pa, pb;
  std::uint64_t at = 4, fa = 0, fb = 0;
  while (fa < na || fb < nb) {
    if (fa < na) {
      const std::uint64_t take = std::min<std::uint64_t>(9, na - fa);
      pa.push_back({fa, take, at});
      at += take;
      fa += take;
    }
    if (fb < nb) {
      const std::uint64_t take = std::min<std::uint64_t>(7, nb - fb);
      pb.push_back({fb, take, at});
      at += take;
      fb += take;
    }
  }
  test::Lay(disk.bytes, clipA.file, kCluster, pa);
  test::Lay(disk.bytes, clipB.file, kCluster, pb);
  const auto all = Rebuild(disk.bytes);
  const Recording* ra = Named(all, 4 * 8);
  const Recording* rb = Named(all, 13 * 8);
  ASSERT_TRUE(ra && rb);
  EXPECT_TRUE(ra->verified);
  EXPECT_TRUE(rb->verified);
  EXPECT_EQ(Assemble(disk.bytes, *ra), clipA.file);
  EXPECT_EQ(Assemble(disk.bytes, *rb), clipB.file);
  EXPECT_FALSE(SharesSectors(*ra, *rb));
}

TEST(MovRebuild, MoovAtTheFront) {
  test::ClipShape shape;
  shape.seed = 21;
  shape.moovAtFront = true;
  const auto clip = test::MakeQuickTimeClip(shape);
  const std::uint64_t n = Clusters(clip.file);
  Disk disk(n + 60);
  test::Lay(disk.bytes, clip.file, kCluster, {{0, 30, 3}, {30, n - 30, 50}});
  const auto all = Rebuild(disk.bytes);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].verified);
  EXPECT_EQ(Assemble(disk.bytes, all[0]), clip.file);
}

TEST(MovRebuild, AMoovInItsOwnPieceAfterTheSamples) {
  test::ClipShape shape;
  shape.seed = 31;
  const auto clip = test::MakeQuickTimeClip(shape);
  const std::uint64_t n = Clusters(clip.file);
  const std::uint64_t moovCluster = clip.moovOffset / kCluster;
  Disk disk(n + 60);
  test::Lay(disk.bytes, clip.file, kCluster, {{0, moovCluster, 40}, {moovCluster, n - moovCluster, 7}});
  const auto all = Rebuild(disk.bytes);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].verified);
  EXPECT_EQ(Assemble(disk.bytes, all[0]), clip.file);
}

// A piece that holds no sample start (one cluster inside a large sample)
// cannot be found by the samples; it lies among other bytes that would
// do as well. The recording is written but not called verified.
TEST(MovRebuild, APieceWithoutASampleStartLeavesTheRecordingUnverified) {
  test::ClipShape shape;
  shape.seed = 41;
  shape.minSample = 14000;
  shape.maxSample = 20000;
  shape.videoSamples = 30;
  const auto clip = test::MakeQuickTimeClip(shape);
  const std::uint64_t n = Clusters(clip.file);
  // Find a cluster wholly inside one video sample.
  std::uint64_t hidden = 0;
  for (std::size_t i = 5; i < clip.videoOffsets.size() && !hidden; ++i) {
    const std::uint64_t first = (clip.videoOffsets[i] + 16 + kCluster - 1) / kCluster;
    if ((first + 1) * kCluster + 16 < clip.videoOffsets[i] + clip.videoSizes[i]) hidden = first;
  }
  ASSERT_NE(hidden, 0u);
  Disk disk(n + 80, true);
  test::Lay(disk.bytes, clip.file, kCluster,
            {{0, hidden, 2}, {hidden, 1, n + 60}, {hidden + 1, n - hidden - 1, hidden + 20}});
  const auto all = Rebuild(disk.bytes);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_FALSE(all[0].verified);
  EXPECT_NE(Assemble(disk.bytes, all[0]), clip.file);
}

TEST(MovRebuild, NoCandidatesNoRecordings) {
  Disk disk(64);
  EXPECT_TRUE(Rebuild(disk.bytes).empty());
}

TEST(MovRebuild, AMoovWithoutItsFtypIsSkipped) {
  test::ClipShape shape;
  shape.seed = 51;
  const auto clip = test::MakeQuickTimeClip(shape);
  const std::uint64_t n = Clusters(clip.file);
  Disk disk(n + 20);
  test::Lay(disk.bytes, clip.file, kCluster, {{0, n, 4}});
  disk.Zero(4, 1);  // the head is gone
  std::vector<std::string> log;
  EXPECT_TRUE(Rebuild(disk.bytes, &log).empty());
  EXPECT_NE(std::find(log.begin(), log.end(), "Moov Mdat match!"), log.end());
}

TEST(MovRebuild, MatchOrderFollowsTheLastSampleOffset) {
  MovScanFinds finds;
  finds.moovs.resize(3);
  finds.moovs[0].info.lastSampleOffset = 30;
  finds.moovs[1].info.lastSampleOffset = 10;
  finds.moovs[2].info.lastSampleOffset = 20;
  const auto order = MoovsInMatchOrder(finds);
  EXPECT_EQ(order[0], &finds.moovs[1]);
  EXPECT_EQ(order[1], &finds.moovs[2]);
  EXPECT_EQ(order[2], &finds.moovs[0]);
}

TEST(MovRebuild, ListsAreTriedInOrderAndOnlyWithHalfTheSamples) {
  std::vector<std::uint64_t> s;
  for (std::uint64_t i = 0; i < 20; ++i) s.push_back(100 + i * 3000);
  std::array<std::vector<std::uint64_t>, kCandidateLists> lists;
  for (std::uint64_t o : s) lists[std::size_t(CandidateList::kLength2)].push_back(0x10000 + o);
  for (std::size_t i = 0; i < 9; ++i) lists[std::size_t(CandidateList::kSize)].push_back(0x10000 + s[i]);
  std::vector<std::uint64_t> m;
  // The size list holds 9 < 10 positions: not tried.
  EXPECT_EQ(MatchSampleList(s, lists, m), int(CandidateList::kLength2));
  EXPECT_EQ(m[7], 0x10000 + s[7]);
  lists[std::size_t(CandidateList::kSize)].push_back(0x10000 + s[9]);
  EXPECT_EQ(MatchSampleList(s, lists, m), int(CandidateList::kSize));
}

TEST(RecordingName, HexLbaAndBeyondThirtyTwoBits) {
  EXPECT_EQ(RecordingName(0x2a, "mov"), "0x2a.mov");
  EXPECT_EQ(RecordingName(0x100000002ull, "mts"), "0x1_2.mts");
}

}  // namespace
}  // namespace ambrel::video
