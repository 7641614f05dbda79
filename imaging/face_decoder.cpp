#include "face_decoder.h"

#include "preview/isolated_decoder.h"

namespace ambrel::imaging {

std::unique_ptr<ImageDecoder> MakeFaceDecoder() {
  return std::make_unique<IsolatedDecoder>(FindDecodeHelper("ambrel-decode", AMBREL_DECODE_HELPER_BUILT),
                                           FindDecodeHelper("ambrel-decode-media", AMBREL_DECODE_MEDIA_HELPER_BUILT));
}

}  // namespace ambrel::imaging
