// Pictures and video frames decoded in a helper process (`ambrel-decode`,
// built with the faces): the codec libraries read found bytes, which may be
// crafted or damaged so as to crash them, loop, or claim gigabytes. In the
// helper a crash, a loop or an exhausted address space ends only the
// helper, and the preview gets a typed reason instead of a picture.
//
// Threads: Decode may be called from any thread; each call runs its own
// helper.
#pragma once

#include <cstdint>
#include <string>

#include "platform/bounded_child.h"
#include "preview/image_decoder.h"

namespace ambrel {

// The bounds of one decode: 1 GiB of address space (the readers' own limit
// is 256 MiB of pixels; the rest is the libraries' code and their threads),
// 10 s of CPU and 15 s of wall clock.
ChildLimits DefaultDecodeLimits();

class IsolatedDecoder final : public ImageDecoder {
 public:
  explicit IsolatedDecoder(std::string helper, ChildLimits limits = DefaultDecodeLimits());
  DecodeOutcome Decode(ByteSpan data, std::uint32_t maxSide) override;
  const std::string& helper() const { return helper_; }

 private:
  std::string helper_;
  ChildLimits limits_;
};

// The helper beside the running program, else `fallback` (a build tree's
// path), else "": the name of the helper program is ambrel-decode.
std::string FindDecodeHelper(const std::string& fallback);

}  // namespace ambrel
