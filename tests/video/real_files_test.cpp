// Files from real encoders and cameras (the shared corpus): every moov
// walks, every sample opens at its own place by the tests the placement
// relies on, and an AVCHD excerpt passes the transport-stream start test.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "support/test_paths.h"
#include "video/atoms.h"
#include "video/mts_scanner.h"
#include "video/sample_checks.h"
#include "video/video_support.h"

namespace ambrel::video {
namespace {

using test::Bytes;

Bytes ReadCorpus(const std::string& name) {
  const std::string dir = test::CorpusDir();
  if (dir.empty()) return {};
  std::ifstream in(dir + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The top-level moov of a whole file.
std::optional<MoovInfo> MoovOf(const Bytes& file) {
  const ByteCursor bytes(file.data(), file.size());
  std::uint64_t at = 0;
  while (bytes.Contains(at, 8)) {
    auto h = ReadAtomHeader(bytes, at);
    if (!h || h->size < 8) return std::nullopt;
    if (h->type == FourCc("moov") && bytes.Contains(at, h->size))
      return WalkMoov(ByteSpan(file.data() + at, static_cast<std::size_t>(h->size)));
    at += h->size;
  }
  return std::nullopt;
}

class FileBytes final : public FileReader {
 public:
  explicit FileBytes(const Bytes& b) : b_(b) {}
  bool Read(std::uint64_t at, std::uint8_t* out, std::size_t n) override {
    if (at > b_.size() || n > b_.size() - at) return false;
    std::memcpy(out, b_.data() + at, n);
    return true;
  }

 private:
  const Bytes& b_;
};

class RealFile : public ::testing::TestWithParam<const char*> {};

TEST_P(RealFile, EverySampleOpensAtItsPlace) {
  const Bytes file = ReadCorpus(GetParam());
  if (file.empty()) GTEST_SKIP() << "corpus file missing";
  auto info = MoovOf(file);
  ASSERT_TRUE(info);
  FileBytes reader(file);
  std::size_t checked = 0;
  for (const TrackSamples& t : info->tracks) {
    for (std::size_t i = 0; i < t.offsets.size(); ++i) {
      const SampleCheck c = CheckSample(reader, t.offsets[i], t.sizes[i], t.format, t.nalLengthBytes);
      if (!c.checkable) continue;
      ++checked;
      EXPECT_TRUE(c.ok) << GetParam() << " track format " << int(t.format) << " sample " << i;
    }
  }
  EXPECT_GT(checked, 0u);
}

INSTANTIATE_TEST_SUITE_P(Corpus, RealFile,
                         ::testing::Values("mov/bt601.mov", "mov/dolbyVision-hdr.MOV", "mp4/testVideoMp4.mp4",
                                           "mp4/sample.mp4"));

TEST(RealFiles, AnIphoneMovIsHevcWithItsNalLengthSize) {
  const Bytes file = ReadCorpus("mov/dolbyVision-hdr.MOV");
  if (file.empty()) GTEST_SKIP() << "corpus file missing";
  auto info = MoovOf(file);
  ASSERT_TRUE(info);
  ASSERT_GE(info->videoTrack, 0);
  EXPECT_EQ(info->tracks[static_cast<std::size_t>(info->videoTrack)].format, SampleFormat::kHevc);
  EXPECT_NE(info->creationTime, 0u);
}

TEST(RealFiles, AnAvchdExcerptPassesTheStartTest) {
  const Bytes file = ReadCorpus("mts/M2TS.mts");
  if (file.empty()) GTEST_SKIP() << "corpus file missing";
  ASSERT_EQ(file.size() % 192, 0u);
  // The first packet is the program association table with counter 0, as
  // the start test wants it.
  EXPECT_LE(file[0], 1);
  EXPECT_EQ(file[4], 0x47);
  EXPECT_EQ(file[5], 0x40);
  EXPECT_EQ(file[6], 0x00);
  EXPECT_EQ(file[7], 0x10);
  PacketRun run;
  EXPECT_EQ(GoodPackets(file.data(), file.size(), 7, run, false), 7u);
  EXPECT_EQ(run.first[0], 0);
  EXPECT_EQ(run.first[1], 0);
  EXPECT_EQ(run.first[2], 0);
}

TEST(RealFiles, AnAudioOnlyFileHasNoRecordingToRebuild) {
  const Bytes file = ReadCorpus("m4a/testMP4.m4a");
  if (file.empty()) GTEST_SKIP() << "corpus file missing";
  EXPECT_FALSE(MoovOf(file));
}

}  // namespace
}  // namespace ambrel::video
