// The carving probe of camera raw photos built on the TIFF structure (CR2,
// NEF, ARW, DNG, PEF, RW2, ORF...): the file ends at the largest end of any
// directory, value, strip, tile or embedded JPEG the directories describe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/byte_cursor.h"
#include "preview/carve_source.h"
#include "preview/walk_result.h"

namespace ambrel {

struct TiffExtent {
  std::uint64_t end = 0;    // largest end seen, within the data
  std::string make;         // the Make tag of the first directory that has one
  std::size_t directories = 0;
  bool beyond = false;      // some directory, value, strip or tile lies past the data
  std::uint64_t wanted = 0; // then: the largest end known of what lies past it
  bool dng = false;         // a directory holds the DNG version tag
};

// The walk over data that starts with "II" or "MM"; nothing otherwise.
// At most 512 directories in all, each visited once, sub-directories
// followed at most 4 levels deep; ends past the data are not counted.
std::optional<TiffExtent> MeasureTiff(ByteSpan data);

// Raw type code of a camera maker name (Canon 49, NIKON 92, PENTAX 98,
// SONY 101, OLYMPUS 104, Panasonic 50, SAMSUNG 52, Mamiya 102, else 50).
std::uint32_t RawTypeOfMaker(std::string_view make);

// Reads up to 0x3800000 bytes from the hit: result 4 with the size and the
// type when the file is larger than 0x1FFFFF bytes, else 5.
SizeProbe ProbeTiffRaw(CarveSource& source);
// The same over the first part of a file: 3 when something the directories
// describe lies past `data`, `data` is shorter than the probe's window and
// not `complete` (the device ends there).
SizeProbe ProbeTiffRawIn(ByteSpan data, bool complete);

}  // namespace ambrel
