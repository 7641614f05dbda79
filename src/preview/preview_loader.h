// The preview loader: one background thread that reads the found file the
// user selected and builds what the panel shows, and makes the thumbnails
// of the picture list, so that the browser never waits for a disk.
//
// Threads: the interface thread queues requests (Request); the loader
// thread runs the reader and the decoder and hands its results to the
// sinks, on its own thread. Start once, Stop once (also from the
// destructor); Stop waits for the request in hand to end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "preview/image_decoder.h"
#include "preview/preview_content.h"

namespace ambrel {

enum PreviewRequestKind : std::int32_t {
  kPreviewSelected = 1,  // the preview of the selected file
  kPreviewThumbnail = 2,  // a thumbnail of the picture list
};

// One queued job.
struct PreviewRequest {
  std::int32_t kind = kPreviewSelected;
  std::uint32_t row = 0;
  std::uint32_t col = 0;
  std::uint64_t dataSector = 0;
  std::uint64_t size = 0;
  std::uint32_t typeCode = 0;  // already through PreviewTypeCode
  bool resident = false;
  std::uint64_t serial = 0;  // the queue numbers the requests, so a face can tell the newest
};

// A preview request replaces a preview request still waiting at the head;
// a thumbnail arriving while a preview waits at the head goes directly
// behind it, so the selection the user waits for is served first.
class PreviewQueue {
 public:
  // Queues the request and returns its serial.
  std::uint64_t Push(PreviewRequest request);
  std::optional<PreviewRequest> Pop();
  // Drops every waiting request.
  void Clear();
  std::vector<PreviewRequest> Waiting() const;
  std::size_t size() const;

 private:
  mutable std::mutex lock_;
  std::deque<PreviewRequest> queue_;
  std::uint64_t nextSerial_ = 1;
};

// What the reader gives for a request.
struct PreviewBytes {
  bool found = false;              // the node still exists and its source opened
  std::vector<std::uint8_t> data;  // at most the cap asked for
  std::uint64_t readable = 0;      // what a copy would write
  bool damaged = false;            // the copy would be short of the size, or hold unreadable sectors
};

// What the loader hands the panel for a preview.
struct PreviewResult {
  PreviewRequest request;
  bool found = false;
  PreviewContent content;
  std::uint64_t readable = 0;
  bool damaged = false;
  std::optional<DecodedImage> picture;  // an image decoded for the pane (kImage only)
  DecodeFailure pictureFailure = DecodeFailure::kNone;  // why there is no picture
  // A first, small decode of a large picture: the full one follows with
  // the same serial and replaces it.
  bool provisional = false;
};

struct ThumbnailResult {
  PreviewRequest request;
  std::optional<DecodedImage> thumbnail;
};

// The edge of the pane picture and of a thumbnail.
inline constexpr std::uint32_t kPanePictureSide = 1600;
inline constexpr std::uint32_t kThumbnailSide = 128;

// A picture of more bytes than this is shown first decoded to fit
// kQuickPictureSide (a JPEG decoder then scales by 1/8 or 1/4 as it
// decodes), then at the pane's size.
inline constexpr std::size_t kQuickPictureBytes = 0x200000;
inline constexpr std::uint32_t kQuickPictureSide = 400;

using PreviewReader = std::function<PreviewBytes(const PreviewRequest&, std::uint64_t cap)>;
// The last `length` bytes of what a copy of the request's file would write.
using PreviewTailReader = std::function<PreviewBytes(const PreviewRequest&, std::uint64_t length)>;

// A video too large to be read whole (kPreviewLargeFile) is decoded from
// its first and its last bytes: an MP4 or MOV written by a camera has its
// index (moov) at the end, after the frames.
inline constexpr std::uint64_t kVideoViewHead = std::uint64_t(16) << 20;
inline constexpr std::uint64_t kVideoViewTail = std::uint64_t(16) << 20;
using EarlyPreview = std::function<void(const PreviewResult&)>;

// Builds the preview of one request (the loader's work, callable on any
// thread for a synchronous preview). `early`, when set, gets the
// provisional preview of a large picture before the full one is decoded.
// `tail`, when set, lets a large video be previewed from its start and end.
PreviewResult LoadPreview(const PreviewRequest& request, const PreviewReader& reader, ImageDecoder* decoder,
                          const EarlyPreview& early = {}, const PreviewTailReader& tail = {});
// Makes the thumbnail of one request (nothing above 0x2000000 bytes).
ThumbnailResult LoadThumbnail(const PreviewRequest& request, const PreviewReader& reader, ImageDecoder* decoder);

class PreviewLoader {
 public:
  using PreviewSink = std::function<void(PreviewResult)>;
  using ThumbnailSink = std::function<void(ThumbnailResult)>;

  PreviewLoader(PreviewReader reader, ImageDecoder* decoder, PreviewSink previews, ThumbnailSink thumbnails,
                PreviewTailReader tail = {});
  ~PreviewLoader();
  PreviewLoader(const PreviewLoader&) = delete;
  PreviewLoader& operator=(const PreviewLoader&) = delete;

  // Starts the thread; a second call does nothing.
  void Start();
  // Sets the stop flag, wakes the thread and waits for it.
  void Stop();
  // Queues a request and wakes the loader; returns its serial.
  std::uint64_t Request(PreviewRequest request);
  // Drops the waiting requests and waits until the one in hand is done
  // (before the catalogue the requests point into changes).
  void Quiesce();
  PreviewQueue& queue() { return queue_; }
  const PreviewQueue& queue() const { return queue_; }

 private:
  void Run();

  PreviewReader reader_;
  PreviewTailReader tail_;
  ImageDecoder* decoder_;
  PreviewSink previews_;
  ThumbnailSink thumbnails_;
  PreviewQueue queue_;
  std::mutex wakeLock_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  bool signalled_ = false;
  bool busy_ = false;
  bool stop_ = false;
  bool started_ = false;
  std::thread thread_;
};

}  // namespace ambrel
