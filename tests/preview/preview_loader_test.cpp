// The preview queue and its loader thread: a newer selection replaces a
// waiting one, thumbnails wait behind the selection, a burst of selections
// ends in one preview of the last, and the thread stops cleanly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "preview/preview_loader.h"
#include "preview/preview_test_support.h"

namespace ambrel {
namespace {

PreviewRequest Req(std::int32_t kind, std::uint32_t col, std::uint64_t size = 10, std::uint32_t type = 165) {
  PreviewRequest r;
  r.kind = kind;
  r.col = col;
  r.size = size;
  r.typeCode = type;
  return r;
}

TEST(PreviewQueue, NewerSelectionReplacesWaitingOneAndThumbnailsWaitBehind) {
  PreviewQueue q;
  q.Push(Req(kPreviewThumbnail, 1));
  q.Push(Req(kPreviewThumbnail, 2));
  q.Push(Req(kPreviewSelected, 10));
  q.Push(Req(kPreviewThumbnail, 3));
  const std::uint64_t last = q.Push(Req(kPreviewSelected, 11));
  const std::vector<PreviewRequest> waiting = q.Waiting();
  ASSERT_EQ(waiting.size(), 4u);
  EXPECT_EQ(waiting[0].kind, kPreviewSelected);
  EXPECT_EQ(waiting[0].col, 11u);
  EXPECT_EQ(waiting[0].serial, last);
  EXPECT_EQ(waiting[1].col, 1u);
  EXPECT_EQ(waiting[3].col, 3u);
  EXPECT_EQ(q.Pop()->col, 11u);
  q.Clear();
  EXPECT_FALSE(q.Pop());
}

// A reader that can hold the loader inside a read until released.
struct GatedReader {
  std::mutex lock;
  std::condition_variable cv;
  bool open = true;
  std::atomic<int> reads{0};
  PreviewBytes operator()(const PreviewRequest& r, std::uint64_t cap) {
    ++reads;
    std::unique_lock<std::mutex> hold(lock);
    cv.wait(hold, [this] { return open; });
    PreviewBytes b;
    b.found = true;
    b.data.assign(static_cast<std::size_t>(std::min<std::uint64_t>(cap, r.size)), 'a');
    b.readable = r.size;
    return b;
  }
  void Close() {
    std::lock_guard<std::mutex> g(lock);
    open = false;
  }
  void Open() {
    {
      std::lock_guard<std::mutex> g(lock);
      open = true;
    }
    cv.notify_all();
  }
};

TEST(PreviewLoader, BurstOfSelectionsLeavesOnePreviewOfTheLast) {
  GatedReader reader;
  std::mutex lock;
  std::condition_variable cv;
  std::vector<PreviewResult> results;
  PreviewLoader loader([&](const PreviewRequest& r, std::uint64_t cap) { return reader(r, cap); }, nullptr,
                       [&](PreviewResult r) {
                         std::lock_guard<std::mutex> g(lock);
                         results.push_back(std::move(r));
                         cv.notify_all();
                       },
                       {});
  loader.Start();
  loader.Start();  // started once only
  // The first selection goes into the reader and is held there; the burst
  // behind it keeps replacing the waiting one.
  reader.Close();
  loader.Request(Req(kPreviewSelected, 0));
  while (reader.reads.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::uint64_t last = 0;
  for (std::uint32_t i = 1; i <= 1000; ++i) last = loader.Request(Req(kPreviewSelected, i));
  EXPECT_EQ(loader.queue().size(), 1u);
  reader.Open();
  std::unique_lock<std::mutex> hold(lock);
  ASSERT_TRUE(cv.wait_for(hold, std::chrono::seconds(30), [&] { return results.size() == 2; }));
  EXPECT_EQ(results[0].request.col, 0u);
  EXPECT_EQ(results[1].request.col, 1000u);
  EXPECT_EQ(results[1].request.serial, last);
  EXPECT_EQ(results[1].content.kind, PreviewKind::kText);
  hold.unlock();
  loader.Stop();
  loader.Stop();
  EXPECT_EQ(reader.reads.load(), 2);
}

TEST(PreviewLoader, StopEndsTheThreadWithWorkWaitingAndQuiesceWaitsForTheRead) {
  GatedReader reader;
  std::atomic<int> delivered{0};
  auto loader = std::make_unique<PreviewLoader>(
      [&](const PreviewRequest& r, std::uint64_t cap) { return reader(r, cap); }, nullptr,
      [&](PreviewResult) { ++delivered; }, [&](ThumbnailResult) { ++delivered; });
  loader->Start();
  reader.Close();
  loader->Request(Req(kPreviewSelected, 1));
  for (std::uint32_t i = 0; i < 50; ++i) loader->Request(Req(kPreviewThumbnail, i));
  while (reader.reads.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    reader.Open();
  });
  loader->Quiesce();  // returns only once the read in hand is done
  EXPECT_EQ(delivered.load(), 1);
  EXPECT_EQ(loader->queue().size(), 0u);
  release.join();
  loader.reset();  // the destructor stops the thread
}

TEST(PreviewLoader, SizesDecideWhatIsRead) {
  std::vector<std::uint64_t> caps;
  PreviewReader reader = [&](const PreviewRequest& r, std::uint64_t cap) {
    caps.push_back(cap);
    PreviewBytes b;
    b.found = true;
    b.data.assign(static_cast<std::size_t>(std::min<std::uint64_t>(cap, 4096)), 'x');
    b.readable = r.size;
    return b;
  };
  // An empty file: an empty text at once, nothing read.
  PreviewResult empty = LoadPreview(Req(kPreviewSelected, 1, 0), reader, nullptr);
  EXPECT_EQ(empty.content.kind, PreviewKind::kText);
  EXPECT_TRUE(caps.empty());
  // A 40 MB video: the dump of its first 1 MiB.
  PreviewResult video = LoadPreview(Req(kPreviewSelected, 1, 40'000'000, 64), reader, nullptr);
  EXPECT_EQ(video.content.kind, PreviewKind::kHex);
  EXPECT_EQ(caps.back(), kPreviewLargeRead);
  // An unknown type is dumped, whatever it holds (text here).
  EXPECT_EQ(LoadPreview(Req(kPreviewSelected, 1, 100, 238), reader, nullptr).content.kind, PreviewKind::kHex);
  EXPECT_EQ(caps.back(), 100u);
  // No thumbnail is read for a file above 0x2000000 bytes.
  caps.clear();
  EXPECT_FALSE(LoadThumbnail(Req(kPreviewThumbnail, 1, kPreviewLargeFile + 1, 44), reader, nullptr).thumbnail);
  EXPECT_TRUE(caps.empty());
}

}  // namespace
}  // namespace ambrel

namespace ambrel {
namespace {

// Records the edges asked for and answers with a picture of that edge.
class EdgeDecoder final : public ImageDecoder {
 public:
  DecodeOutcome Decode(ByteSpan, std::uint32_t maxSide) override {
    sides.push_back(maxSide);
    DecodedImage d;
    d.sourceWidth = d.sourceHeight = 4000;
    d.width = d.height = maxSide;
    return d;
  }
  std::vector<std::uint32_t> sides;
};

TEST(PreviewLoader, ALargePictureIsShownSmallFirstThenWhole) {
  std::vector<std::uint8_t> bytes(kQuickPictureBytes + 1, 0);
  bytes[0] = 0xFF;
  bytes[1] = 0xD8;
  const PreviewReader reader = test::ReaderOfBytes(bytes);
  PreviewRequest request;
  request.size = bytes.size();
  request.typeCode = 46;  // JPEG
  request.serial = 7;
  EdgeDecoder decoder;
  std::vector<PreviewResult> early;
  const PreviewResult whole =
      LoadPreview(request, reader, &decoder, [&](const PreviewResult& r) { early.push_back(r); });
  ASSERT_EQ(early.size(), 1u);
  EXPECT_TRUE(early[0].provisional);
  EXPECT_EQ(early[0].request.serial, 7u);
  ASSERT_TRUE(early[0].picture);
  EXPECT_EQ(early[0].picture->width, kQuickPictureSide);
  EXPECT_FALSE(whole.provisional);
  ASSERT_TRUE(whole.picture);
  EXPECT_EQ(whole.picture->width, kPanePictureSide);
  EXPECT_EQ(decoder.sides, (std::vector<std::uint32_t>{kQuickPictureSide, kPanePictureSide}));
  // One byte less, or no one waiting early (the command line): one decode.
  decoder.sides.clear();
  bytes.resize(kQuickPictureBytes);
  request.size = bytes.size();
  LoadPreview(request, test::ReaderOfBytes(bytes), &decoder, [&](const PreviewResult& r) { early.push_back(r); });
  bytes.resize(kQuickPictureBytes + 1);
  request.size = bytes.size();
  LoadPreview(request, reader, &decoder);
  EXPECT_EQ(early.size(), 1u);
  EXPECT_EQ(decoder.sides, (std::vector<std::uint32_t>{kPanePictureSide, kPanePictureSide}));
}

}  // namespace
}  // namespace ambrel
