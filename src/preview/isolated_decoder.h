// Pictures and video frames decoded in a helper process (`ambrel-decode`,
// built with the faces): the codec libraries read found bytes, which may be
// crafted or damaged so as to crash them, loop, or claim gigabytes. In the
// helper a crash, a loop or an exhausted address space ends only the
// helper, and the preview gets a typed reason instead of a picture.
//
// Each helper is started by the first decode that needs it and then serves
// the decoder's requests one after another (see ServingChild): a decode
// costs the decoding, not a program's start. A request that fails (crash,
// timeout, exhausted memory, nonsense) ends that helper; the next request
// starts a fresh one. The decoder's destruction ends both helpers.
//
// Threads: Decode may be called from any thread; requests to one helper
// wait for each other.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/bounded_child.h"
#include "preview/image_decoder.h"

namespace ambrel {

// The bounds of one decode: 1 GiB of address space (the readers' own limit
// is 256 MiB of pixels; the rest is the libraries' code and their threads),
// 10 s of CPU (per helper process, which is replaced once it has used a
// quarter of that, so a decode has at least 7.5 s) and 15 s of wall clock.
ChildLimits DefaultDecodeLimits();

// Two helpers: ambrel-decode links only the Qt image readers and starts in
// a few tens of milliseconds; ambrel-decode-media adds libheif, LibRaw and
// FFmpeg, whose hundred-odd libraries take several times as long to load.
// A JPEG, PNG, GIF, BMP or icon goes to the first, anything else (TIFF and
// the TIFF-based raws, HEIF, videos) to the second, which also has Qt's
// readers to fall back on.
class IsolatedDecoder final : public ImageDecoder {
 public:
  IsolatedDecoder(std::string pictureHelper, std::string mediaHelper, ChildLimits limits = DefaultDecodeLimits());
  ~IsolatedDecoder() override;
  DecodeOutcome Decode(ByteSpan data, std::uint32_t maxSide) override;
  DecodeOutcome DecodeWithFirst(ByteSpan data, std::uint32_t quickSide, std::uint32_t maxSide,
                                const std::function<void(DecodeOutcome)>& first) override;
  DecodeOutcome DecodeView(ByteSpan head, ByteSpan tail, std::uint64_t fileSize, std::uint32_t maxSide) override;

  // For the tests: the running helper's process id (0: none).
  int HelperPid(bool media) const;

 private:
  struct Helper {
    Helper(const std::string& program, const ChildLimits& limits);
    std::string program;
    mutable std::mutex lock;
    ServingChild child;
  };
  // The helper's reply to a request already sent (Exchange, or Receive
  // for a further reply), as an outcome.
  DecodeOutcome Reply(Helper& helper, ChildRun run, std::uint32_t maxSide);

  Helper picture_, media_;
};

// True when only the media helper decodes `data` (see above).
bool NeedsMediaHelper(ByteSpan data);

// The helper `name` beside the running program, else `fallback` (a build
// tree's path), else "".
std::string FindDecodeHelper(const std::string& name, const std::string& fallback);

}  // namespace ambrel
