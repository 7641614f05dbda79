// The moov walk: atom headers, the sample tables of each track and the
// bounds a damaged moov must not get past.
#include <gtest/gtest.h>

#include "video/atoms.h"
#include "video/video_support.h"

namespace ambrel::video {
namespace {

using test::AppendBe32;
using test::Atom;
using test::Bytes;
using test::Concat;

TEST(AtomType, KnownTypesAndAlphanumericCodesPass) {
  EXPECT_TRUE(IsAtomType(FourCc("moov")));
  EXPECT_TRUE(IsAtomType(FourCc("CNTH")));
  EXPECT_TRUE(IsAtomType(FourCc("abc1")));
  EXPECT_FALSE(IsAtomType(FourCc("url ")));  // a blank is neither a letter nor a digit
  EXPECT_FALSE(IsAtomType(0xA9746F6Fu));     // "©too"
  EXPECT_FALSE(IsAtomType(0));
}

TEST(AtomHeader, SizeZeroIsRefusedAndSizeOneReadsSixtyFourBits) {
  Bytes zero = Atom("free", {});
  test::PutBe32(zero, 0, 0);
  EXPECT_FALSE(ReadAtomHeader(ByteCursor(zero.data(), zero.size()), 0));

  Bytes large = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 1, 0, 0, 0, 0x10};
  auto h = ReadAtomHeader(ByteCursor(large.data(), large.size()), 0);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->size, 0x100000010ull);
  EXPECT_EQ(h->headerBytes, 16u);

  Bytes largeZero = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(ReadAtomHeader(ByteCursor(largeZero.data(), largeZero.size()), 0));
}

TEST(MoovWalk, BuildsTheSampleOffsetsOfEveryTrack) {
  const std::vector<std::uint64_t> video = {100, 5000, 9000};
  const std::vector<std::uint32_t> sizes = {4000, 3000, 2500};
  const std::vector<std::uint64_t> audio = {4100, 8000, 11500};
  // 2082873600 + 1000: one thousand seconds after 1970.
  const Bytes moov = test::MakeMoov(video, sizes, audio, 768, 2082874600u);
  auto info = WalkMoov(moov);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->size, moov.size());
  EXPECT_EQ(info->creationTime, 1000u);
  EXPECT_EQ(info->VideoOffsets(), video);
  ASSERT_EQ(info->tracks.size(), 2u);
  EXPECT_EQ(info->tracks[0].format, SampleFormat::kAvc);
  EXPECT_EQ(info->tracks[0].nalLengthBytes, 4);
  EXPECT_EQ(info->tracks[0].sizes, sizes);
  EXPECT_EQ(info->tracks[1].kind, TrackKind::kSound);
  EXPECT_EQ(info->tracks[1].format, SampleFormat::kAc3);
  EXPECT_EQ(info->tracks[1].offsets, audio);
  EXPECT_EQ(info->lastSampleOffset, 9000u);
  EXPECT_EQ(info->mediaEnd, 11500u + 768);
}

TEST(MoovWalk, SamplesOfOneChunkFollowEachOther) {
  // Two chunks of three samples each (stsc: from chunk 1, 3 per chunk).
  Bytes stsz;
  AppendBe32(stsz, 0);
  AppendBe32(stsz, 0);
  AppendBe32(stsz, 6);
  for (std::uint32_t s : {10, 20, 30, 40, 50, 60}) AppendBe32(stsz, s);
  Bytes stsc;
  for (std::uint32_t w : {0u, 1u, 1u, 3u, 1u}) AppendBe32(stsc, w);
  Bytes stco;
  for (std::uint32_t w : {0u, 2u, 1000u, 2000u}) AppendBe32(stco, w);
  Bytes hdlr(24, 0);
  hdlr[8] = 'v', hdlr[9] = 'i', hdlr[10] = 'd', hdlr[11] = 'e';
  const Bytes stbl = Atom("stbl", Concat({Atom("stsc", stsc), Atom("stsz", stsz), Atom("stco", stco)}));
  const Bytes moov = Atom("moov", Atom("trak", Atom("mdia", Concat({Atom("hdlr", hdlr), Atom("minf", stbl)}))));
  auto info = WalkMoov(moov);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->VideoOffsets(), (std::vector<std::uint64_t>{1000, 1010, 1030, 2000, 2040, 2090}));
}

TEST(MoovWalk, SixtyFourBitChunkOffsets) {
  const std::vector<std::uint64_t> video = {0x100000000ull, 0x100001000ull};
  auto info = WalkMoov(test::MakeMoov(video, {100, 100}, {}, 0, 0, true));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->VideoOffsets(), video);
}

TEST(MoovWalk, UserDataWithCopyrightSignAtomsIsSkippedQuietly) {
  Bytes moov = test::MakeMoov({100}, {50}, {}, 0, 0);
  Bytes tag = {0, 0, 0, 12, 0xA9, 't', 'o', 'o', 'L', 'a', 'v', 'f'};
  Bytes body(moov.begin() + 8, moov.end());
  body = Concat({body, Atom("udta", tag)});
  EXPECT_TRUE(WalkMoov(Atom("moov", body)));
}

TEST(MoovWalk, AGarbageHeaderInsideATrackRejectsTheMoov) {
  Bytes moov = test::MakeMoov({100, 200}, {50, 50}, {}, 0, 0);
  // Break the type of the first atom inside the first trak.
  const std::size_t trak = std::search(moov.begin(), moov.end(), std::begin("trak"), std::end("trak") - 1) - moov.begin();
  moov[trak + 8] = 0x01;
  EXPECT_FALSE(WalkMoov(moov));
}

TEST(MoovWalk, CountsLargerThanTheirTablesAreRefused) {
  Bytes moov = test::MakeMoov({100, 200}, {50, 50}, {}, 0, 0);
  const std::size_t stsz = std::search(moov.begin(), moov.end(), std::begin("stsz"), std::end("stsz") - 1) - moov.begin();
  test::PutBe32(moov, stsz + 4 + 8, 0x00FFFFFF);  // the sample count
  EXPECT_FALSE(WalkMoov(moov));
}

TEST(MoovWalk, NestingDeeperThanSixteenLevelsIsRefused) {
  Bytes inner = test::MakeMoov({100}, {50}, {}, 0, 0);
  Bytes body(inner.begin() + 8, inner.end());
  Bytes nested = body;
  for (int i = 0; i < 20; ++i) nested = Atom("udta", nested);
  // Inside udta a bad nesting is skipped, inside trak it is not.
  Bytes deep = Concat({body, Atom("trak", Atom("mdia", Atom("minf", Atom("stbl", Bytes{}))))});
  Bytes tower = Atom("stbl", {});
  for (int i = 0; i < 20; ++i) tower = Atom("trak", tower);
  EXPECT_FALSE(WalkMoov(Atom("moov", Concat({body, tower}))));
  EXPECT_TRUE(WalkMoov(Atom("moov", deep)));
}

TEST(MoovWalk, AMoovWithoutVideoIsNotValid) {
  Bytes moov = test::MakeMoov({100}, {50}, {}, 0, 0);
  const std::size_t vide = std::search(moov.begin(), moov.end(), std::begin("vide"), std::end("vide") - 1) - moov.begin();
  moov[vide] = 's', moov[vide + 1] = 'o', moov[vide + 2] = 'u', moov[vide + 3] = 'n';
  EXPECT_FALSE(WalkMoov(moov));
}

TEST(MoovWalk, TruncatedMoovIsRefused) {
  Bytes moov = test::MakeMoov({100}, {50}, {}, 0, 0);
  moov.resize(moov.size() - 1);
  EXPECT_FALSE(WalkMoov(moov));
}

}  // namespace
}  // namespace ambrel::video
