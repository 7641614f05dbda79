// Pictures decoded with Qt's image readers (JPEG, PNG, GIF, BMP, ICO and,
// with the image-format plugins, TIFF and WebP) for the preview pane, the
// thumbnails and `ambrel-cli show --thumbnail`.
//
// Found bytes are untrusted: a picture whose header claims more pixels than
// the limit is refused before anything is allocated, and the readers'
// allocation limit bounds what any one picture may take.
//
// Threads: one decoder per thread (the preview loader's).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QImage>

#include "preview/exif_thumbnail.h"
#include "preview/image_decoder.h"

namespace ambrel::imaging {

// Pictures above this many pixels (as their header states) are not decoded.
inline constexpr std::uint64_t kMaxPixels = 50'000'000;
// The readers' own limit, in MiB, on the memory one picture may take.
inline constexpr int kAllocationLimitMiB = 256;

class QtImageDecoder final : public ImageDecoder {
 public:
  DecodeOutcome Decode(ByteSpan data, std::uint32_t maxSide) override;
};

// A first, quick picture of a large file to fit maxSide: a JPEG's EXIF
// thumbnail when it has one (a camera's 160 x 120, decoded in a
// millisecond, where the whole picture costs the entropy decoding of every
// byte), turned as the picture is, else the picture decoded to fit (libjpeg
// then scales by 1/2 to 1/8 as it decodes). The source size is the whole
// picture's.
DecodeOutcome QuickPicture(ByteSpan data, std::uint32_t maxSide);

// `image` scaled to fit maxSide x maxSide (0: as it is) as 0xAARRGGBB
// pixels, with the size of the picture it was decoded from.
DecodedImage PictureOf(QImage image, std::uint32_t sourceWidth, std::uint32_t sourceHeight, std::uint32_t maxSide);

// True when the data ends before the picture's own end marker (a JPEG
// without its EOI, a PNG without IEND, a GIF without its trailer): what
// decodes of it is only the start of the picture.
bool PictureCutShort(ByteSpan data);

}  // namespace ambrel::imaging
