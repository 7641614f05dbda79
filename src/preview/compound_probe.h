// Carving probes over a compound file that starts at the first byte of the
// data: its total size, and the document type its directory names.
#pragma once

#include <cstdint>

#include "common/byte_cursor.h"
#include "preview/walk_result.h"

namespace ambrel {

// Result 4 with the size (the header plus every sector up to the last one
// the FAT uses), 3 when the data ends before the tables or the file do, 5
// when the file is malformed or names none of the known document streams.
SizeProbe CompoundFileSize(ByteSpan data);

// The type code of the first valid directory entry named after a document
// stream: "WordDocument" 36, "Workbook"/"Book" 87, "Props" 91,
// "VisioDocument" 96, "PowerPoint Document"/"Pictures" 90; 0 when none.
std::uint32_t DetectCompoundType(ByteSpan data);

}  // namespace ambrel
