// The record walk of a ZIP archive from its first byte: local file
// headers, central directory headers and the end record, each skipped by
// the sizes it states. Used for the carving size of zip and Office Open XML
// files and to check that an Office Open XML document is complete.
#pragma once

#include <cstdint>

#include "common/byte_cursor.h"
#include "preview/walk_result.h"

namespace ambrel {

// Result 4 with the size (end record + 22 + its comment) and the type code
// of the first member that names a docx (37), xlsx (38) or pptx (89) part;
// 3 when the walk passes the end of the data by at most 0x10000000 bytes;
// 5 for any other record or a walk further beyond; 0 when an entry has a
// data descriptor (flag bit 3) or zip64 sizes, whose end the headers do not tell.
SizeProbe WalkZipRecords(ByteSpan data);

// The carving probe: WalkZipRecords, and 3 for less than 512 bytes.
SizeProbe ZipArchiveSize(ByteSpan data);

// The Office Open XML type of a member name: "word/" 37, "xl/" 38, "ppt/" 89.
std::uint32_t OoxmlTypeOfMember(std::string_view name);

}  // namespace ambrel
