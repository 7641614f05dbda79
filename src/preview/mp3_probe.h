// The carving probe of MP3 audio: an ID3v2 tag, then MPEG audio frames,
// APE and ID3v1 tags skipped one after another until something else comes.
#pragma once

#include <cstdint>
#include <optional>

#include "common/byte_cursor.h"
#include "preview/carve_source.h"
#include "preview/walk_result.h"

namespace ambrel {

// The length in bytes of the MPEG-1/2/2.5 audio frame whose 4-byte header
// starts `header`; nothing when the header is not valid (no sync, reserved
// version, layer, sample rate, or the free-format / reserved bitrate).
std::optional<std::uint32_t> MpegFrameLength(ByteCursor header);

// Result 4 with the position reached when more than 10 items (frames and
// tags) followed the ID3v2 tag; 3 when the data ends inside an item (a cut
// file); 5 otherwise.
SizeProbe ProbeMp3(CarveSource& source);

}  // namespace ambrel
