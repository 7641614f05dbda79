// The thumbnail a camera stores in a JPEG's APP1 "Exif" segment: IFD1's
// JPEGInterchangeFormat (0x0201) and JPEGInterchangeFormatLength (0x0202),
// offsets from the start of the segment's TIFF header.
#pragma once

#include "common/byte_cursor.h"

namespace ambrel {

// The thumbnail's bytes inside `jpeg` (a JPEG itself, starting FF D8);
// empty when there is none or the segment does not hold together. Only the
// first 32 segments before the first scan are looked at.
ByteSpan ExifThumbnail(ByteSpan jpeg);

}  // namespace ambrel
