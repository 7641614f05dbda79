// The picture decoding the preview asks of its host. The core decodes no
// pixels: the desktop and the command line hand in an implementation (the
// Qt image readers and the codec libraries, run in a helper process by
// `IsolatedDecoder`). Found bytes are untrusted, so an implementation must
// bound the memory and time one picture may take.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel {

struct DecodedImage {
  std::uint32_t sourceWidth = 0, sourceHeight = 0;  // the picture as stored
  std::uint32_t width = 0, height = 0;              // of `pixels`
  std::vector<std::uint32_t> pixels;                // 0xAARRGGBB, row by row
  bool damaged = false;  // the data stopped decoding part way: only the decoded part is shown
  // A video: its picture is a frame near the start, `frames` the frames
  // that decoded of its first stretch (at most kVideoFramesCounted).
  bool video = false;
  std::uint32_t frames = 0;
};

// How many frames of a video's start are decoded to count them.
inline constexpr std::uint32_t kVideoFramesCounted = 300;

// Why a decode gave no picture.
enum class DecodeFailure : std::uint8_t {
  kNone,
  kNotAPicture,    // no decoder reads these bytes
  kTooLarge,       // the picture states more pixels than the limit
  kOutOfMemory,    // the decode ran out of the memory it may take
  kTimedOut,       // the decode took longer than it may
  kCrashed,        // the decoder ended abnormally
  kNoDecoder,      // the helper program is missing or would not start
};

struct DecodeOutcome {
  std::optional<DecodedImage> image;
  DecodeFailure failure = DecodeFailure::kNone;  // set when there is no image

  DecodeOutcome() = default;
  DecodeOutcome(DecodedImage decoded) : image(std::move(decoded)) {}  // NOLINT: a picture is an outcome
  DecodeOutcome(DecodeFailure why) : failure(why) {}                  // NOLINT: so is a failure
  explicit operator bool() const { return image.has_value(); }
  bool has_value() const { return image.has_value(); }
  const DecodedImage& operator*() const { return *image; }
  DecodedImage& operator*() { return *image; }
  const DecodedImage* operator->() const { return &*image; }
  DecodedImage* operator->() { return &*image; }
};

class ImageDecoder {
 public:
  virtual ~ImageDecoder() = default;
  // The picture in `data` scaled to fit `maxSide` x `maxSide` (its aspect
  // kept; never enlarged; 0: its own size). No picture, with the reason,
  // when the bytes are not a picture the decoder reads, or it would take
  // more than its limits. Called from the preview loader's thread.
  virtual DecodeOutcome Decode(ByteSpan data, std::uint32_t maxSide) = 0;

  // As Decode, with first a picture fitted to `quickSide` handed to `first`
  // as soon as it is there (not when it fails): a large picture is shown
  // early, and its bytes are handed over once. The default decodes twice.
  virtual DecodeOutcome DecodeWithFirst(ByteSpan data, std::uint32_t quickSide, std::uint32_t maxSide,
                                        const std::function<void(DecodeOutcome)>& first) {
    DecodeOutcome quick = Decode(data, quickSide);
    if (quick) first(std::move(quick));
    return Decode(data, maxSide);
  }

  // A file too large to be read whole, given as its first bytes `head` and
  // its last bytes `tail` (at fileSize - tail.size()); what lies between is
  // missing. A video whose index follows its data (an MP4's moov written
  // at the end) still shows a frame. The default decodes `head` alone.
  virtual DecodeOutcome DecodeView(ByteSpan head, ByteSpan tail, std::uint64_t fileSize, std::uint32_t maxSide) {
    (void)tail;
    (void)fileSize;
    return Decode(head, maxSide);
  }
};

}  // namespace ambrel
