// Decoding in the helper process: a decoder that crashes, loops or eats its
// memory ends in a typed outcome while the caller (and its loader thread)
// lives on; a bomb is refused; a real picture decodes exactly as in-process.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "imaging/picture_samples.h"
#include "preview/decode_reply.h"
#include "preview/isolated_decoder.h"
#include "preview/preview_loader.h"
#include "preview/preview_test_support.h"
#include "qt_image_decoder.h"
#include "session/texts.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

ByteSpan Span(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }
std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

ChildLimits TestLimits() {
  ChildLimits limits = DefaultDecodeLimits();
  limits.cpuSeconds = 2;
  limits.wallMs = 60'000;
  return limits;
}

TEST(IsolatedDecode, AHelperThatCrashesLoopsOrEatsMemoryGivesItsReason) {
  IsolatedDecoder decoder(AMBREL_DECODE_TEST_HELPER, AMBREL_DECODE_TEST_HELPER, TestLimits());
  EXPECT_EQ(int(decoder.Decode(Span(Bytes("AMBREL-TEST-CRASH")), 0).failure), int(DecodeFailure::kCrashed));
  // Spinning: the CPU limit ends it.
  EXPECT_EQ(int(decoder.Decode(Span(Bytes("AMBREL-TEST-SPIN")), 0).failure), int(DecodeFailure::kTimedOut));
  // A reply that states more than it holds is no picture.
  EXPECT_EQ(int(decoder.Decode(Span(Bytes("AMBREL-TEST-NONSENSE")), 0).failure), int(DecodeFailure::kCrashed));
  // Asleep, using no CPU: the wall clock ends it.
  ChildLimits shortWall = TestLimits();
  shortWall.wallMs = 300;
  IsolatedDecoder impatient(AMBREL_DECODE_TEST_HELPER, AMBREL_DECODE_TEST_HELPER, shortWall);
  EXPECT_EQ(int(impatient.Decode(Span(Bytes("AMBREL-TEST-SLEEP")), 0).failure), int(DecodeFailure::kTimedOut));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_EQ(int(decoder.Decode(Span(Bytes("AMBREL-TEST-EAT")), 0).failure), int(DecodeFailure::kOutOfMemory));
#endif
  EXPECT_EQ(int(decoder.Decode(Span(Bytes("no picture at all")), 0).failure), int(DecodeFailure::kNotAPicture));
  IsolatedDecoder missing("/nonexistent/ambrel-decode", "/nonexistent/ambrel-decode-media", TestLimits());
  EXPECT_EQ(int(missing.Decode(Span(Bytes("x")), 0).failure), int(DecodeFailure::kNoDecoder));
  // After all that, a real picture still decodes.
  const std::vector<std::uint8_t> png = test::BombPng(40, 30, 30);
  const DecodeOutcome fine = decoder.Decode(Span(png), 0);
  ASSERT_TRUE(fine);
  EXPECT_EQ(fine->width, 40u);
  EXPECT_EQ(fine->height, 30u);
}

TEST(IsolatedDecode, TheLoaderThreadLivesThroughACrashingDecoderAndSaysWhy) {
  IsolatedDecoder decoder(AMBREL_DECODE_TEST_HELPER, AMBREL_DECODE_TEST_HELPER, TestLimits());
  const std::vector<std::uint8_t> hostile = Bytes("AMBREL-TEST-CRASH and then some bytes");
  const std::vector<std::uint8_t> png = test::BombPng(64, 48, 48);
  auto reader = [&](const PreviewRequest& r, std::uint64_t) {
    PreviewBytes b;
    b.found = true;
    b.data = r.row == 1 ? hostile : png;
    b.readable = b.data.size();
    return b;
  };
  std::mutex lock;
  std::condition_variable done;
  std::vector<PreviewResult> results;
  PreviewLoader loader(reader, &decoder, [&](PreviewResult r) {
    std::lock_guard<std::mutex> guard(lock);
    results.push_back(std::move(r));
    done.notify_all();
  }, {});
  loader.Start();
  for (std::uint32_t row : {1u, 2u}) {
    PreviewRequest request;
    request.row = row;
    request.typeCode = 44;  // PNG
    request.size = row == 1 ? hostile.size() : png.size();
    loader.Request(request);
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(done.wait_for(guard, std::chrono::seconds(120), [&] { return results.size() == row; }));
  }
  loader.Stop();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_FALSE(results[0].picture);
  EXPECT_EQ(int(results[0].pictureFailure), int(DecodeFailure::kCrashed));
  EXPECT_NE(PreviewDamageText(results[0]).find("图像无法解码（解码程序异常退出）"), std::string::npos);
  ASSERT_TRUE(results[1].picture);
  EXPECT_EQ(results[1].picture->sourceWidth, 64u);
}

// The helpers stay between decodes; a request that goes wrong ends its
// helper, and the next request is served by a fresh one.
TEST(IsolatedDecode, OneHelperServesDecodeAfterDecodeAndAFailedRequestStartsAFreshOne) {
  IsolatedDecoder decoder(AMBREL_DECODE_TEST_HELPER, AMBREL_DECODE_TEST_HELPER, TestLimits());
  const std::vector<std::uint8_t> png = test::BombPng(40, 30, 30);
  EXPECT_EQ(decoder.HelperPid(false), 0);
  ASSERT_TRUE(decoder.Decode(Span(png), 0));
  const int first = decoder.HelperPid(false);
  ASSERT_NE(first, 0);
  for (int i = 0; i < 30; ++i) {
    const DecodeOutcome again = decoder.Decode(Span(png), i % 2 == 0 ? 0 : 16);
    ASSERT_TRUE(again) << i;
    EXPECT_EQ(again->width, i % 2 == 0 ? 40u : 16u);
  }
  EXPECT_EQ(decoder.HelperPid(false), first);
  EXPECT_EQ(decoder.HelperPid(true), 0);  // nothing asked the media helper yet

  // Each failure ends the helper (reaped, not left a zombie) and the next
  // picture still decodes.
  for (const char* hostile : {"AMBREL-TEST-CRASH", "AMBREL-TEST-EXIT", "AMBREL-TEST-NONSENSE"}) {
    SCOPED_TRACE(hostile);
    ASSERT_EQ(int(decoder.Decode(Span(Bytes("no picture")), 0).failure), int(DecodeFailure::kNotAPicture));
    const int before = decoder.HelperPid(true);
    ASSERT_NE(before, 0);
    EXPECT_EQ(int(decoder.Decode(Span(Bytes(hostile)), 0).failure), int(DecodeFailure::kCrashed));
    EXPECT_EQ(decoder.HelperPid(true), 0);
    EXPECT_FALSE(ProcessExists(before));
    EXPECT_EQ(int(decoder.Decode(Span(Bytes("no picture")), 0).failure), int(DecodeFailure::kNotAPicture));
    EXPECT_NE(decoder.HelperPid(true), 0);
  }
  EXPECT_EQ(decoder.HelperPid(false), first);  // the other kind's helper is untouched
}

TEST(IsolatedDecode, AfterATimeoutTheHelperIsKilledAndTheNextPictureDecodes) {
  ChildLimits wall = TestLimits();
  wall.wallMs = 5'000;
  IsolatedDecoder decoder(AMBREL_DECODE_TEST_HELPER, AMBREL_DECODE_TEST_HELPER, wall);
  // Bytes that are no picture go to the media helper, as the sleeper does.
  ASSERT_EQ(int(decoder.Decode(Span(Bytes("no picture")), 0).failure), int(DecodeFailure::kNotAPicture));
  const int asleep = decoder.HelperPid(true);
  ASSERT_NE(asleep, 0);
  EXPECT_EQ(int(decoder.Decode(Span(Bytes("AMBREL-TEST-SLEEP")), 0).failure), int(DecodeFailure::kTimedOut));
  EXPECT_EQ(decoder.HelperPid(true), 0);
  EXPECT_FALSE(ProcessExists(asleep));
  EXPECT_EQ(int(decoder.Decode(Span(Bytes("no picture")), 0).failure), int(DecodeFailure::kNotAPicture));
  EXPECT_NE(decoder.HelperPid(true), 0);
  EXPECT_TRUE(decoder.Decode(Span(test::BombPng(40, 30, 30)), 0));
}

// RLIMIT_CPU counts a process's whole life: five decodes of 0.7 s each under
// a 2 s limit would see the third killed were the helper never replaced.
TEST(IsolatedDecode, SlowDecodesInARowEachGetTheirCpuBudget) {
  IsolatedDecoder decoder(AMBREL_DECODE_TEST_HELPER, AMBREL_DECODE_TEST_HELPER, TestLimits());
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(int(decoder.Decode(Span(Bytes("AMBREL-TEST-BURN")), 0).failure), int(DecodeFailure::kNotAPicture)) << i;
  }
}

// The parent-death signal follows the thread that forked: a helper started
// by a thread that has ended since must still serve the decoder.
TEST(IsolatedDecode, TheHelperOutlivesTheThreadWhoseRequestStartedIt) {
  IsolatedDecoder decoder(AMBREL_DECODE_TEST_HELPER, AMBREL_DECODE_TEST_HELPER, TestLimits());
  const std::vector<std::uint8_t> png = test::BombPng(40, 30, 30);
  bool decoded = false;
  std::thread([&] { decoded = decoder.Decode(Span(png), 0).has_value(); }).join();
  ASSERT_TRUE(decoded);
  const int pid = decoder.HelperPid(false);
  ASSERT_NE(pid, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(decoder.Decode(Span(png), 0));
  EXPECT_EQ(decoder.HelperPid(false), pid);
}

TEST(IsolatedDecode, DestroyingTheDecoderEndsBothHelpersEvenOneThatHangs) {
  int picture = 0, media = 0;
  {
    IsolatedDecoder decoder(AMBREL_DECODE_TEST_HELPER, AMBREL_DECODE_TEST_HELPER, TestLimits());
    ASSERT_TRUE(decoder.Decode(Span(test::BombPng(40, 30, 30)), 0));
    // Answers, then stops reading its input: closing it will not end it.
    EXPECT_EQ(int(decoder.Decode(Span(Bytes("AMBREL-TEST-HANG-AFTER")), 0).failure),
              int(DecodeFailure::kNotAPicture));
    picture = decoder.HelperPid(false);
    media = decoder.HelperPid(true);
    ASSERT_NE(picture, 0);
    ASSERT_NE(media, 0);
    ASSERT_NE(picture, media);
  }
  // Gone and reaped: a zombie would still exist.
  EXPECT_FALSE(ProcessExists(picture));
  EXPECT_FALSE(ProcessExists(media));
}

TEST(IsolatedDecode, ABombIsRefusedAndAJpegDecodesAsTheOriginal) {
  IsolatedDecoder decoder(AMBREL_DECODE_HELPER, AMBREL_DECODE_MEDIA_HELPER);
  const std::vector<std::uint8_t> bomb = test::BombPng(60000, 60000, 16);
  EXPECT_EQ(int(decoder.Decode(Span(bomb), kThumbnailSide).failure), int(DecodeFailure::kTooLarge));
  std::size_t jpegs = 0;
  imaging::QtImageDecoder inProcess;
  for (const std::string& path : test::CorpusFiles("jpg")) {
    SCOPED_TRACE(path);
    const std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    for (std::uint32_t side : {0u, kPanePictureSide, kThumbnailSide}) {
      const DecodeOutcome there = decoder.Decode(Span(bytes), side);
      const DecodeOutcome here = inProcess.Decode(Span(bytes), side);
      ASSERT_EQ(there.has_value(), here.has_value());
      if (!here) continue;
      EXPECT_EQ(there->sourceWidth, here->sourceWidth);
      EXPECT_EQ(there->sourceHeight, here->sourceHeight);
      EXPECT_EQ(there->width, here->width);
      EXPECT_EQ(there->height, here->height);
      EXPECT_EQ(there->damaged, here->damaged);
      EXPECT_TRUE(there->pixels == here->pixels);
    }
    ++jpegs;
  }
  if (jpegs == 0) GTEST_SKIP() << "corpus missing";
}

TEST(IsolatedDecode, CommonPicturesGoToTheQtHelperEverythingElseToTheMediaHelper) {
  const std::vector<std::uint8_t> png = test::BombPng(40, 30, 30);
  std::vector<std::uint8_t> tiffLike = {'I', 'I', '*', 0};
  tiffLike.resize(64, 0);
  // Without the media helper, a PNG still decodes; a TIFF-headed file has no decoder.
  IsolatedDecoder picturesOnly(AMBREL_DECODE_HELPER, "");
  EXPECT_TRUE(picturesOnly.Decode(Span(png), 0));
  EXPECT_EQ(int(picturesOnly.Decode(Span(tiffLike), 0).failure), int(DecodeFailure::kNoDecoder));
  // And the other way round.
  IsolatedDecoder mediaOnly("", AMBREL_DECODE_MEDIA_HELPER);
  EXPECT_EQ(int(mediaOnly.Decode(Span(png), 0).failure), int(DecodeFailure::kNoDecoder));
  EXPECT_EQ(int(mediaOnly.Decode(Span(tiffLike), 0).failure), int(DecodeFailure::kNotAPicture));
  // The picture helper links none of the codec libraries, so that it starts fast.
  const std::string libraries = test::RunCommand(std::string("ldd ") + AMBREL_DECODE_HELPER);
  if (!libraries.empty()) {
    EXPECT_EQ(libraries.find("libavcodec"), std::string::npos);
    EXPECT_EQ(libraries.find("libheif"), std::string::npos);
    EXPECT_EQ(libraries.find("libraw"), std::string::npos);
  }
}

// The request of a file's start and end: its parts must lie inside the
// file without overlapping, and its stated lengths inside the message.
TEST(DecodeReply, ARequestOfAStartAndAnEndMustFitTheFileItNames) {
  const std::vector<std::uint8_t> head = {1, 2, 3}, tail = {8, 9};
  const std::vector<std::uint8_t> good = EncodeDecodeRequestX(Span(head), Span(tail), 100, 1600, 400);
  const std::optional<DecodeRequestView> view = ParseDecodeRequest(Span(good));
  ASSERT_TRUE(view);
  EXPECT_EQ(view->maxSide, 1600u);
  EXPECT_EQ(view->quickSide, 400u);
  EXPECT_EQ(view->fileSize, 100u);
  EXPECT_TRUE(std::vector<std::uint8_t>(view->data.begin(), view->data.end()) == head);
  EXPECT_TRUE(std::vector<std::uint8_t>(view->tail.begin(), view->tail.end()) == tail);
  // The header alone, followed by the parts, is the same message.
  std::vector<std::uint8_t> joined = DecodeRequestHeaderX(head.size(), tail.size(), 100, 1600, 400);
  joined.insert(joined.end(), head.begin(), head.end());
  joined.insert(joined.end(), tail.begin(), tail.end());
  EXPECT_TRUE(joined == good);
  // A whole file: no tail, and its size is the bytes'.
  EXPECT_TRUE(ParseDecodeRequest(Span(EncodeDecodeRequestX(Span(head), {}, 3, 0, 0))));
  EXPECT_FALSE(ParseDecodeRequest(Span(EncodeDecodeRequestX(Span(head), {}, 4, 0, 0))));
  // Parts longer than the file they come from.
  EXPECT_FALSE(ParseDecodeRequest(Span(EncodeDecodeRequestX(Span(head), Span(tail), 4, 0, 0))));
  // A tail longer than the bytes sent, or the bytes cut short.
  std::vector<std::uint8_t> bad = good;
  bad[24] = 9;
  EXPECT_FALSE(ParseDecodeRequest(Span(bad)));
  const std::vector<std::uint8_t> cut(good.begin(), good.end() - 1);
  EXPECT_FALSE(ParseDecodeRequest(Span(cut)));
}

TEST(DecodeReply, ARepliedPictureMustFitWhatWasAskedAndWhatItHolds) {
  DecodedImage image;
  image.sourceWidth = 300;
  image.sourceHeight = 200;
  image.width = 3;
  image.height = 2;
  image.pixels = {1, 2, 3, 4, 5, 6};
  image.video = true;
  image.frames = 42;
  const std::vector<std::uint8_t> reply = EncodeDecodeReply(DecodeOutcome(image));
  const std::optional<DecodeOutcome> back = ParseDecodeReply(Span(reply), 128);
  ASSERT_TRUE(back && *back);
  EXPECT_TRUE((*back)->pixels == image.pixels);
  EXPECT_EQ((*back)->frames, 42u);
  EXPECT_TRUE((*back)->video);
  EXPECT_FALSE(ParseDecodeReply(Span(reply), 2));  // wider than asked
  std::vector<std::uint8_t> cut(reply.begin(), reply.end() - 1);
  EXPECT_FALSE(ParseDecodeReply(Span(cut), 0));
  std::vector<std::uint8_t> longer = reply;
  longer.push_back(0);
  EXPECT_FALSE(ParseDecodeReply(Span(longer), 0));
  std::vector<std::uint8_t> huge = reply;
  huge[16] = huge[17] = huge[18] = huge[19] = 0xFF;  // width 4 G
  EXPECT_FALSE(ParseDecodeReply(Span(huge), 0));
  const std::vector<std::uint8_t> refused = EncodeDecodeReply(DecodeOutcome(DecodeFailure::kTooLarge));
  const std::optional<DecodeOutcome> why = ParseDecodeReply(Span(refused), 0);
  ASSERT_TRUE(why);
  EXPECT_EQ(int(why->failure), int(DecodeFailure::kTooLarge));
  std::vector<std::uint8_t> unknown = refused;
  unknown[4] = 200;
  EXPECT_FALSE(ParseDecodeReply(Span(unknown), 0));
}

}  // namespace
}  // namespace ambrel
