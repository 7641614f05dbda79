// The picture decoder of the desktop and of ambrel-cli: every decode runs
// in the helper programs ambrel-decode and ambrel-decode-media (installed
// beside them; in a build tree, where the build put them), bounded in
// memory and time.
#pragma once

#include <memory>

#include "preview/image_decoder.h"

namespace ambrel::imaging {

std::unique_ptr<ImageDecoder> MakeFaceDecoder();

}  // namespace ambrel::imaging
