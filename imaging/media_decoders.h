// The media the Qt image readers do not read: HEIF/HEIC pictures
// (libheif), raw photos through the preview their maker embedded (LibRaw)
// and a frame near the start of a video (FFmpeg), each from the bytes in
// memory. Run inside the decoding helper only (see isolated_decoder.h).
#pragma once

#include <cstdint>

#include "preview/image_decoder.h"

namespace ambrel::imaging {

// The picture of `data` if it is one of these media; kNotAPicture when it
// is none of them (the Qt readers are tried next).
DecodeOutcome DecodeMedia(ByteSpan data, std::uint32_t maxSide);

// A frame of a video too large to be read whole, from its first bytes
// `head` and its last bytes `tail` (the end of a file of fileSize bytes):
// the demuxer finds an index written at the end, and reads the frames from
// the start up to the missing middle.
DecodeOutcome DecodeVideoView(ByteSpan head, ByteSpan tail, std::uint64_t fileSize, std::uint32_t maxSide);

}  // namespace ambrel::imaging
