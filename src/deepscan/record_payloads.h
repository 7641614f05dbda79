// The payloads a sector hit takes from its structure: the summary of a FILE
// record, the directory an INDX record indexes, the partition starts of the
// GPT entry array. Pure functions over spans; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/byte_cursor.h"
#include "deepscan/scan_hit.h"

namespace ambrel {

// Summarises one FILE record of the size its header states (1024 or 4096
// bytes usually; the update-sequence fixups are applied to a copy first).
// Fails when that size is not stated or `record` is shorter, without
// $STANDARD_INFORMATION, without a $FILE_NAME, or when no name in the POSIX
// / Win32 / Win32+DOS namespace is usable. Only the record's own bytes are
// read.
std::optional<FileRecordSummary> SummariseFileRecord(ByteSpan record);

// The record number of the directory an INDX record indexes: the parent of
// its first long-name entry (POSIX names are skipped). `fromRecord` runs
// from the record's first byte to the end of the data read with it; the
// walk never leaves it.
std::optional<std::uint32_t> IndexedDirectoryOf(ByteSpan fromRecord);

// The non-zero starting LBAs of the first 16 entries of a GPT entry array
// (128-byte entries; `entries` holds the 4 sectors at LBA 2).
std::vector<std::uint64_t> GptEntryStarts(ByteSpan entries);

}  // namespace ambrel
