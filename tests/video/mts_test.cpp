// The transport-stream block scanner and the chaining of its fragments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "video/mts_chain.h"
#include "video/mts_scanner.h"
#include "video/video_support.h"

namespace ambrel::video {
namespace {

using test::Bytes;

constexpr std::uint64_t kCluster = 32768;

std::vector<MtsFragment> ScanAll(const Bytes& disk, std::uint64_t step = 1 << 20) {
  MemoryByteSource source(ByteSpan(disk.data(), disk.size()), 0);
  MtsBlockScanner scanner(0);
  std::vector<MtsFragment> out;
  for (std::uint64_t at = 0; at < disk.size(); at += step) scanner.Advance(source, at + step, out);
  scanner.Finish(out);
  return out;
}

Bytes Assemble(const Bytes& disk, const Recording& r) {
  Bytes out;
  for (const Fragment& f : r.fragments)
    out.insert(out.end(), disk.begin() + static_cast<std::ptrdiff_t>(f.startLba * 512),
               disk.begin() + static_cast<std::ptrdiff_t>((f.startLba + f.sectors) * 512));
  out.erase(out.begin(), out.begin() + r.skip);
  out.resize(static_cast<std::size_t>(r.size));
  return out;
}

std::vector<Recording> Chain(const Bytes& disk) {
  MemoryByteSource source(ByteSpan(disk.data(), disk.size()), 0);
  return ChainMts(ScanAll(disk), source, RebuildHooks{});
}

TEST(MtsScanner, ARecordingStartIsFoundByTheStartTest) {
  const Bytes ts = test::MakeTransportStream(6000, 1000, 2000, 1);
  Bytes disk(ts.size() + 20 * 512, 0);
  std::copy(ts.begin(), ts.end(), disk.begin() + 4096);
  const auto frags = ScanAll(disk);
  ASSERT_EQ(frags.size(), 1u);
  EXPECT_TRUE(frags[0].recordingStart);
  EXPECT_EQ(frags[0].startLba, 8u);
  EXPECT_EQ(frags[0].startOffset, 0u);
  EXPECT_EQ(frags[0].EndByte(), 4096 + ts.size());
  EXPECT_EQ(frags[0].firstCounters, (PidCounters{0, 0, 0, -1}));
}

TEST(MtsScanner, AStreamStarting64BytesIntoASectorIsFoundMidStream) {
  const Bytes ts = test::MakeTransportStream(5000, 1000, 2000, 2);
  Bytes disk(ts.size() + 64 * 512, 0);
  // Start the data 10 packets in, 64 bytes into sector 16.
  std::copy(ts.begin() + 10 * 192, ts.end(), disk.begin() + 16 * 512 + 64);
  const auto frags = ScanAll(disk);
  ASSERT_EQ(frags.size(), 1u);
  EXPECT_FALSE(frags[0].recordingStart);
  EXPECT_EQ(frags[0].startLba, 16u);
  EXPECT_EQ(frags[0].startOffset, 64u);
}

TEST(MtsScanner, TheEndSectorCountsFrom320BytesIn) {
  EXPECT_EQ(FragmentEndLba(100, 10 * 512 + 319), 110u);
  EXPECT_EQ(FragmentEndLba(100, 10 * 512 + 320), 111u);
}

TEST(MtsScanner, ARunEndsWhereACounterBreaks) {
  Bytes ts = test::MakeTransportStream(7000, 1000, 2000, 3);
  // Skip one video packet's counter at packet 3001.
  std::uint8_t& c = ts[3001 * 192 + 7];
  ASSERT_EQ(((ts[3001 * 192 + 5] & 0x1F) << 8) | ts[3001 * 192 + 6], 0x1011);
  c = static_cast<std::uint8_t>((c & 0xF0) | ((c + 1) & 15));
  Bytes disk(ts.size() + 4096, 0);
  std::copy(ts.begin(), ts.end(), disk.begin());
  const auto frags = ScanAll(disk);
  ASSERT_GE(frags.size(), 1u);
  EXPECT_EQ(frags[0].EndByte(), 3001u * 192);
}

TEST(MtsScanner, AFragmentShorterThanABlockIsKept) {
  const Bytes ts = test::MakeTransportStream(400, 1000, 2000, 4);
  Bytes disk(1 << 20, 0);
  std::copy(ts.begin() + 192 * 50, ts.end(), disk.begin() + 8192 + 128);
  const auto frags = ScanAll(disk);
  ASSERT_EQ(frags.size(), 1u);
  EXPECT_EQ(frags[0].startOffset, 128u);
  EXPECT_EQ(frags[0].EndByte(), 8192 + 128 + 350u * 192);
}

TEST(MtsScanner, AnotherStreamMetWhereThePhasesCoincideIsCutByTheClock) {
  // A stream whose counters run on but whose clock jumps by 11 s half way
  // (the packets of another recording): the run ends at the jump.
  Bytes ts = test::MakeTransportStream(8192, 1000, 2000, 5);
  for (std::size_t k = 4000; k < 8192; ++k) {
    const std::uint32_t t = (ArrivalTime(ts.data() + k * 192) + 300000000u) & 0x3FFFFFFF;
    for (int i = 0; i < 4; ++i) ts[k * 192 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(t >> (24 - 8 * i));
  }
  Bytes disk = test::Concat({ts, Bytes(65536, 0)});
  const auto frags = ScanAll(disk);
  ASSERT_GE(frags.size(), 2u);
  EXPECT_EQ(frags[0].EndByte(), 4000u * 192);
}

TEST(MtsScanner, MidStreamAPidMayFirstShowUpInALaterBlockWithAnyCounter) {
  // The program table every 2500 packets: a run found mid-stream meets it
  // only in its second block, with counter 3.
  Bytes ts = test::MakeTransportStream(12000, 1000, 2000, 21);
  Bytes disk(ts.size() + 65536, 0);
  const std::size_t from = 600;  // packets skipped: the run starts mid-stream
  std::copy(ts.begin() + from * 192, ts.end(), disk.begin());
  const auto frags = ScanAll(disk);
  ASSERT_EQ(frags.size(), 1u);
  EXPECT_EQ(frags[0].EndByte(), ts.size() - from * 192);
}

TEST(MtsFragmentRecord, EncodesToSeventeenWordsAndBack) {
  MtsFragment f;
  f.recordingStart = false;
  f.startLba = 0x123456789ull;
  f.startOffset = 128;
  f.endPosition = 0x60000 * 3 + 77;
  f.endLba = FragmentEndLba(f.startLba, f.endPosition);
  f.goodBytes = 192 * 5;
  f.firstCounters = {1, 2, -1, 15};
  f.lastCounters = {3, 4, 5, -1};
  const auto bytes = f.Encode();
  ASSERT_EQ(bytes.size(), 68u);
  auto back = MtsFragment::Decode(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->startLba, f.startLba);
  EXPECT_EQ(back->firstCounters, f.firstCounters);
  EXPECT_EQ(back->lastCounters, f.lastCounters);
  auto bad = bytes;
  bad[12] = 65;  // start offset 65
  EXPECT_FALSE(MtsFragment::Decode(bad));
  bad = bytes;
  bad[24] = 16;  // a counter of 16
  EXPECT_FALSE(MtsFragment::Decode(bad));
}

// Lays the stream's file in clusters at the given disk clusters; the rest
// of its last cluster is slack (zeros on a formatted card).
void LayStream(Bytes& disk, const Bytes& ts, const std::vector<std::uint64_t>& diskClusters) {
  for (std::size_t k = 0; k < diskClusters.size(); ++k) {
    const std::size_t from = k * kCluster;
    if (from >= ts.size()) break;
    const std::size_t n = std::min<std::size_t>(kCluster, ts.size() - from);
    std::memcpy(disk.data() + diskClusters[k] * kCluster, ts.data() + from, n);
    std::memset(disk.data() + diskClusters[k] * kCluster + n, 0, kCluster - n);
  }
}

TEST(MtsChain, FragmentsAreChainedInCounterOrderWhereverTheyLie) {
  const Bytes ts = test::MakeTransportStream(8000, 1000, 2000, 7);  // 1.5 MB, 47 clusters
  const std::size_t n = (ts.size() + kCluster - 1) / kCluster;
  std::vector<std::uint64_t> where;
  // Pieces of 16 clusters, the second piece before the first on the disk.
  for (std::size_t k = 0; k < n; ++k) where.push_back(k < 16 ? 40 + k : k < 32 ? 4 + (k - 16) : 70 + (k - 32));
  Bytes disk = test::NoiseWithoutZeros(100 * kCluster, 9);
  LayStream(disk, ts, where);
  const auto all = Chain(disk);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].verified);
  EXPECT_EQ(all[0].fragments.size(), 3u);
  EXPECT_EQ(all[0].name, "0xa00.mts");
  EXPECT_EQ(Assemble(disk, all[0]), ts);
}

TEST(MtsChain, ARecordingWhoseLastPieceIsMissingIsNotCalledVerified) {
  const Bytes ts = test::MakeTransportStream(8000, 1000, 2000, 7);
  const std::size_t n = (ts.size() + kCluster - 1) / kCluster;
  std::vector<std::uint64_t> where;
  for (std::size_t k = 0; k < n; ++k) where.push_back(k < 16 ? 40 + k : k < 32 ? 4 + (k - 16) : 70 + (k - 32));
  Bytes disk = test::NoiseWithoutZeros(100 * kCluster, 9);
  LayStream(disk, ts, where);
  // The third piece is overwritten.
  std::memcpy(disk.data() + 70 * kCluster, test::NoiseWithoutZeros(20 * kCluster, 4).data(), 20 * kCluster);
  const auto all = Chain(disk);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].fragments.size(), 2u);
  EXPECT_FALSE(all[0].verified);
}

TEST(MtsChain, APieceWithoutAudioOrTableStillChains) {
  // Audio every 7th packet, but none in the middle piece: the chain keeps
  // the last audio counter seen before it.
  Bytes ts = test::MakeTransportStream(8000, 1000, 2000, 17);
  const std::size_t n = (ts.size() + kCluster - 1) / kCluster;
  std::vector<std::uint64_t> where;
  for (std::size_t k = 0; k < n; ++k) where.push_back(k < 16 ? 40 + k : k < 32 ? 4 + (k - 16) : 70 + (k - 32));
  Bytes disk(100 * kCluster, 0);
  LayStream(disk, ts, where);
  MemoryByteSource source(ByteSpan(disk.data(), disk.size()), 0);
  auto fragments = ScanAll(disk);
  ASSERT_EQ(fragments.size(), 3u);
  // As if the middle piece had held neither the table nor the audio: it
  // sees none, and the last piece's counters follow on from the first's.
  std::sort(fragments.begin(), fragments.end(),
            [](const MtsFragment& a, const MtsFragment& b) { return a.startLba < b.startLba; });
  MtsFragment& middle = fragments[0];  // cluster 4
  MtsFragment& first = fragments[1];   // cluster 40
  MtsFragment& last = fragments[2];    // cluster 70
  for (std::size_t pid : {0u, 2u}) {
    middle.firstCounters[pid] = middle.lastCounters[pid] = -1;
    last.firstCounters[pid] = NextCounter(first.lastCounters[pid]);
  }
  const auto all = ChainMts(fragments, source, RebuildHooks{});
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].fragments.size(), 3u);
}

TEST(MtsChain, APidSeenInNeitherFragmentIsNoEvidenceButMinusOneChainsOnlyToZero) {
  MtsFragment a, b;
  a.lastCounters = {3, 7, -1, -1};
  b.firstCounters = {4, 8, 0, -1};
  EXPECT_TRUE(CountersContinue(a, b));  // audio: -1 + 1 = 0
  b.firstCounters = {4, 8, 5, -1};
  EXPECT_FALSE(CountersContinue(a, b));
  b.firstCounters = {4, 9, 0, -1};
  EXPECT_FALSE(CountersContinue(a, b));
}

TEST(MtsChain, TheCutPacketMustFit) {
  MtsFragment a, b;
  a.startLba = 100;
  a.endPosition = 40 * 512 + 64;  // the cut packet runs 64 bytes past the break
  a.endLba = FragmentEndLba(a.startLba, a.endPosition);
  EXPECT_EQ(a.endLba, 140u);
  b.startOffset = 64;
  EXPECT_TRUE(CutPacketFits(a, b));
  b.startOffset = 128;
  EXPECT_FALSE(CutPacketFits(a, b));
}

TEST(MtsChain, AStrayPacketRunOnIntoAfterABreakIsTrimmed) {
  // The stream in two pieces of three clusters each (512 packets: the break
  // falls between packets); after the first piece on the disk comes one
  // packet-like run of bytes with the sync byte and a PID the stream does
  // not have, then other bytes.
  const Bytes ts = test::MakeTransportStream(6000, 1000, 2000, 23);
  Bytes disk(80 * kCluster, 0);
  std::vector<std::uint64_t> where;
  for (std::size_t k = 0; k * kCluster < ts.size(); ++k) where.push_back(k < 3 ? 10 + k : 30 + k);
  LayStream(disk, ts, where);
  const Bytes noise = test::NoiseWithoutZeros(kCluster, 3);
  std::memcpy(disk.data() + 13 * kCluster, noise.data(), noise.size());
  std::uint8_t* stray = disk.data() + 13 * kCluster;
  const std::uint32_t time = ArrivalTime(ts.data() + 511 * 192) + 2000;
  for (int i = 0; i < 4; ++i) stray[i] = static_cast<std::uint8_t>(time >> (24 - 8 * i));
  stray[4] = 0x47, stray[5] = 0x01, stray[6] = 0x23, stray[7] = 0x10;
  const auto all = Chain(disk);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].fragments.size(), 2u);
  EXPECT_EQ(all[0].fragments[0].sectors, 3 * kCluster / 512);
  EXPECT_EQ(Assemble(disk, all[0]), ts);
}

TEST(MtsChain, WhenCountersAcceptTwoFragmentsTheArrivalTimesDecide) {
  // One stream in three pieces; a decoy whose counters continue the first
  // piece as well as the true second piece does, with a later clock.
  const Bytes ts = test::MakeTransportStream(6144, 1000, 2000, 11);  // 36 clusters
  Bytes disk = test::NoiseWithoutZeros(120 * kCluster, 12);
  std::vector<std::uint64_t> where;
  for (std::size_t k = 0; k < 36; ++k) where.push_back(k < 12 ? 2 + k : k < 24 ? 60 + (k - 12) : 90 + (k - 24));
  LayStream(disk, ts, where);
  // The decoy: the true second piece's bytes with every arrival time moved
  // on by two seconds, further up the disk.
  Bytes decoy(ts.begin() + 12 * kCluster, ts.begin() + 24 * kCluster);
  for (std::size_t at = 0; at + 192 <= decoy.size(); at += 192) {
    const std::uint32_t t = (ArrivalTime(decoy.data() + at) + 54000000u) & 0x3FFFFFFF;
    for (int i = 0; i < 4; ++i) decoy[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(t >> (24 - 8 * i));
  }
  std::memcpy(disk.data() + 30 * kCluster, decoy.data(), decoy.size());
  const auto all = Chain(disk);
  const Recording* main = nullptr;
  for (const Recording& r : all)
    if (!r.fragments.empty() && r.fragments.front().startLba == 2 * kCluster / 512) main = &r;
  ASSERT_TRUE(main);
  EXPECT_EQ(Assemble(disk, *main), ts);
}

TEST(MtsChain, AJoinWhoseClockRunsBackwardsIsRefused) {
  TimedFragment a, b;
  a.timed = b.timed = true;
  a.beforeLastTime = 1000, a.lastTime = 3000;
  b.firstTime = 2000, b.secondTime = 4000;
  std::uint32_t gap = 0;
  EXPECT_EQ(TimesRunOn(a, b, gap), TimeVerdict::kBackward);
  b.firstTime = 5000, b.secondTime = 7000;
  EXPECT_EQ(TimesRunOn(a, b, gap), TimeVerdict::kForward);
  EXPECT_EQ(gap, 2000u);
  // A clock that steps backwards by itself says nothing.
  a.beforeLastTime = 4000;
  EXPECT_EQ(TimesRunOn(a, b, gap), TimeVerdict::kUnknown);
}

TEST(MtsChain, ARecordingOfOneMebibyteOrLessIsDropped) {
  const Bytes ts = test::MakeTransportStream(5461, 1000, 2000, 13);  // 1048512 bytes
  Bytes disk(ts.size() + 8 * kCluster, 0);
  std::memcpy(disk.data() + kCluster, ts.data(), ts.size());
  EXPECT_TRUE(Chain(disk).empty());
  const Bytes longer = test::MakeTransportStream(5462, 1000, 2000, 13);
  Bytes disk2(longer.size() + 8 * kCluster, 0);
  std::memcpy(disk2.data() + kCluster, longer.data(), longer.size());
  const auto one = Chain(disk2);
  ASSERT_EQ(one.size(), 1u);  // a single fragment is enough
  EXPECT_EQ(Assemble(disk2, one[0]), longer);
}

}  // namespace
}  // namespace ambrel::video
