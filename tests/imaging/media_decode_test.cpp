// HEIC, raw photos and video frames decoded in the helper process from the
// bytes in memory: each to the size the format's own tools give, a cut file
// to a partial picture or a reason, and a video's preview says how many of
// its frames decode.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "preview/isolated_decoder.h"
#include "preview/preview_loader.h"
#include "preview/preview_test_support.h"
#include "qt_image_decoder.h"
#include "session/texts.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

ByteSpan Span(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

IsolatedDecoder& Helper() {
  static IsolatedDecoder decoder(AMBREL_DECODE_HELPER, AMBREL_DECODE_MEDIA_HELPER);
  return decoder;
}

// A cut copy decodes to a partial picture or to a reason, in the helper.
void ExpectCutIsBounded(const std::vector<std::uint8_t>& bytes) {
  for (std::size_t keep : {bytes.size() / 2, bytes.size() / 5, std::size_t(100)}) {
    SCOPED_TRACE(keep);
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + std::min(keep, bytes.size()));
    const DecodeOutcome outcome = Helper().Decode(Span(cut), kThumbnailSide);
    if (outcome) {
      EXPECT_LE(std::max(outcome->width, outcome->height), kThumbnailSide);
    } else {
      EXPECT_NE(int(outcome.failure), int(DecodeFailure::kNone));
      EXPECT_NE(int(outcome.failure), int(DecodeFailure::kNoDecoder));
    }
  }
}

TEST(MediaDecode, HeicFromACorpusJpegDecodesToItsSize) {
  if (!test::HaveTool("heif-enc")) GTEST_SKIP() << "heif-enc (libheif-examples) missing";
  std::string jpeg;
  for (const std::string& f : test::CorpusFiles("jpg"))
    if (fs::path(f).filename() == "court-exif.jpg") jpeg = f;
  if (jpeg.empty()) GTEST_SKIP() << "corpus missing";
  const std::string dir = test::TempDir("heic");
  const std::string heic = dir + "/court.heic";
  test::RunCommand("heif-enc -q 60 -o " + test::ShellQuote(heic) + " " + test::ShellQuote(jpeg));
  const std::vector<std::uint8_t> bytes = test::ReadBytes(heic);
  ASSERT_FALSE(bytes.empty()) << "heif-enc made nothing";
  const DecodeOutcome whole = Helper().Decode(Span(bytes), 0);
  ASSERT_TRUE(whole) << int(whole.failure);
  EXPECT_EQ(whole->sourceWidth, 500u);
  EXPECT_EQ(whole->sourceHeight, 375u);
  EXPECT_EQ(whole->width, 500u);
  const DecodeOutcome thumb = Helper().Decode(Span(bytes), kThumbnailSide);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(thumb->width, kThumbnailSide);
  EXPECT_EQ(thumb->height, 96u);
  // A .heic carries no type code of its own: the loader knows it by its brand.
  const PreviewReader reader = test::ReaderOfBytes(bytes);
  PreviewRequest request;
  request.size = bytes.size();
  request.typeCode = 238;
  const PreviewResult shown = LoadPreview(request, reader, &Helper());
  EXPECT_EQ(int(shown.content.kind), int(PreviewKind::kImage));
  ASSERT_TRUE(shown.picture);
  EXPECT_EQ(shown.picture->sourceWidth, 500u);
  ExpectCutIsBounded(bytes);
}

// A raw photo shows the preview its camera embedded, or, when that is only
// a thumbnail of a few pixels and the file holds its sensor data, that data
// processed at half size: then at least 160 pixels wide with the aspect of
// the size exiftool gives.
TEST(MediaDecode, RawPhotosShowTheirEmbeddedPreviewOrTheirSensorDataAtHalfSize) {
  if (!test::HaveTool("exiftool")) GTEST_SKIP() << "exiftool missing";
  imaging::QtImageDecoder qt;
  std::size_t decoded = 0, seen = 0, processed = 0;
  for (const char* folder : {"cr2", "nef", "arw", "dng", "rw2", "pef", "raf", "orf"}) {
    for (const std::string& path : test::CorpusFiles(folder)) {
      SCOPED_TRACE(path);
      ++seen;
      const std::vector<std::uint8_t> bytes = test::ReadBytes(path);
      const DecodeOutcome shown = Helper().Decode(Span(bytes), 0);
      ExpectCutIsBounded(bytes);
      if (!shown) continue;
      ++decoded;
      // The oracle: the embedded pictures exiftool extracts, one of which
      // is the one shown, unless all of them are smaller.
      bool matched = false;
      std::uint32_t largest = 0;
      for (const char* tag : {"PreviewImage", "JpgFromRaw", "ThumbnailImage", "ThumbnailTIFF", "OtherImage"}) {
        const std::string out = test::RunCommand("exiftool -b -" + std::string(tag) + " " + test::ShellQuote(path));
        const std::vector<std::uint8_t> embedded(out.begin(), out.end());
        const DecodeOutcome e = qt.Decode(Span(embedded), 0);
        if (e && e->width == shown->width && e->height == shown->height) matched = true;
        if (e) largest = std::max({largest, e->width, e->height});
      }
      if (matched) continue;
      ++processed;
      EXPECT_GT(std::max(shown->width, shown->height), largest);
      EXPECT_GE(shown->width, 160u);
      const std::string size = test::RunCommand("exiftool -s -s -s -ImageSize " + test::ShellQuote(path));
      const std::size_t x = size.find('x');
      ASSERT_NE(x, std::string::npos) << size;
      const double oracle = std::stod(size.substr(0, x)) / std::stod(size.substr(x + 1));
      EXPECT_NEAR(double(shown->width) / shown->height, oracle, oracle * 0.02) << shown->width << " x " << shown->height;
    }
  }
  if (seen == 0) GTEST_SKIP() << "corpus missing";
  EXPECT_GE(decoded, 1u);
  // The corpus's raws are samples cut after their headers (the Panasonic one
  // embeds an 8 x 8 thumbnail and states 20 MB of sensor data in 12 KB):
  // none may be shown as processed sensor data, which is not there.
  EXPECT_EQ(processed, 0u);
}

struct Clip {
  std::string name, args;
};

TEST(MediaDecode, AVideoShowsAFrameAndHowManyFramesDecode) {
  if (!test::HaveTool("ffmpeg") || !test::HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg missing";
  const std::string dir = test::TempDir("clips");
  // Two seconds at 25 frames a second: 50 frames in each container.
  const std::vector<Clip> clips = {{"clip.mp4", "-c:v mpeg4"}, {"clip.mov", "-c:v mjpeg"}, {"clip.avi", "-c:v mpeg4"},
                                   {"clip.mkv", "-c:v mpeg4"}};
  for (const Clip& clip : clips) {
    SCOPED_TRACE(clip.name);
    const std::string path = dir + "/" + clip.name;
    test::RunCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=320x240:rate=25 -t 2 " + clip.args + " -y " +
                     test::ShellQuote(path));
    const std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    ASSERT_FALSE(bytes.empty());
    const std::string counted = test::RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
        test::ShellQuote(path));
    const DecodeOutcome shown = Helper().Decode(Span(bytes), kPanePictureSide);
    ASSERT_TRUE(shown) << int(shown.failure);
    EXPECT_TRUE(shown->video);
    EXPECT_FALSE(shown->damaged);
    EXPECT_EQ(shown->sourceWidth, 320u);
    EXPECT_EQ(shown->sourceHeight, 240u);
    EXPECT_EQ(shown->width, 320u);
    EXPECT_EQ(std::to_string(shown->frames), counted.substr(0, counted.find_first_of("\r\n")));
    EXPECT_EQ(shown->frames, 50u);
    ExpectCutIsBounded(bytes);
  }
  // The preview of an MP4 found on a volume says how many frames decode.
  const std::vector<std::uint8_t> mp4 = test::ReadBytes(dir + "/clip.mp4");
  const PreviewReader reader = test::ReaderOfBytes(mp4);
  PreviewRequest request;
  request.size = mp4.size();
  request.typeCode = 72;  // MP4
  const PreviewResult shown = LoadPreview(request, reader, &Helper());
  EXPECT_EQ(int(shown.content.kind), int(PreviewKind::kImage));
  EXPECT_EQ(PreviewPictureText(shown), "视频：已解码50帧。\r\n");
  EXPECT_EQ(PreviewDamageText(shown), "");
  // Its thumbnail too, though no picture signature starts it.
  request.kind = kPreviewThumbnail;
  const ThumbnailResult thumb = LoadThumbnail(request, reader, &Helper());
  ASSERT_TRUE(thumb.thumbnail);
  EXPECT_EQ(thumb.thumbnail->width, kThumbnailSide);
}

TEST(MediaDecode, CorpusVideosDecodeOrSayWhyNot) {
  std::size_t frames = 0, seen = 0;
  for (const char* folder : {"mp4", "mov", "avi", "mkv", "3gp", "webm", "flv", "mpg", "ts", "mts", "wmv", "asf"}) {
    for (const std::string& path : test::CorpusFiles(folder)) {
      SCOPED_TRACE(path);
      ++seen;
      const std::vector<std::uint8_t> bytes = test::ReadBytes(path);
      const DecodeOutcome shown = Helper().Decode(Span(bytes), kThumbnailSide);
      if (shown) {
        EXPECT_TRUE(shown->video);
        EXPECT_GE(shown->frames, 1u);
        EXPECT_LE(shown->frames, kVideoFramesCounted);
        ++frames;
      } else {
        // Audio-only and stripped samples: a reason, never a crash or a hang.
        EXPECT_EQ(int(shown.failure), int(DecodeFailure::kNotAPicture));
      }
    }
  }
  if (seen == 0) GTEST_SKIP() << "corpus missing";
  EXPECT_GE(frames, seen / 2);
}

}  // namespace
}  // namespace ambrel
