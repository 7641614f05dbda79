// Reading a found NTFS file's data into memory (preview, copy-out of small
// files) and loading the volume's cluster bitmap. Called on a worker thread;
// each call opens and closes its own read-only handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "catalog/found_file_node.h"
#include "catalog/partition_info.h"
#include "common/byte_cursor.h"
#include "fs/data_extent.h"

namespace ambrel {

// For a node with resident data: the $DATA value of its record (the
// volume's record size); empty on failure, and for a record that fails its
// update-sequence check.
std::vector<std::uint8_t> ReadResidentData(const PartitionInfo& partition, const FoundFileNode& node);
// The same through a source already open (the partition's own), with the
// volume's record size.
std::vector<std::uint8_t> ReadResidentData(DiskHandle& handle, const FoundFileNode& node, std::uint32_t recordBytes);

// Reads the first `wanted` bytes (at most the file's size) into `buffer`.
// Sparse runs read as zeros. A failed read or a stop request (the word reads
// 2) ends early; the result is still true when the run list could be
// resolved, so the buffer may hold fewer bytes.
bool ReadNtfsFileData(const FoundFileNode& node, const PartitionInfo& partition,
                      const std::atomic<std::uint32_t>* stopWord, std::uint64_t wanted,
                      std::uint8_t* buffer);

// One compression unit of a compressed attribute: the sectors that hold its
// data, in file order. A unit whose clusters are all sparse reads as zeros;
// one whose data clusters fill it is stored as it is; one with fewer data
// clusters than the unit holds LZNT1 chunks.
struct CompressionUnit {
  ExtentList pieces;             // non-sparse parts only
  std::uint64_t dataSectors = 0;
  bool compressed = false;
};

// Cuts resolved extents (with their cluster counts) into units of
// `unitClusters` clusters; at most `maxUnits` units (the file size's worth)
// are made, so a bogus run length cannot blow up the list.
std::vector<CompressionUnit> SplitCompressionUnits(const ExtentList& extents, std::uint32_t spc,
                                                   std::uint32_t unitClusters, std::uint64_t maxUnits);

// Turns the unit's data (`raw`: its pieces' bytes in order) into the unit's
// plain bytes (`out`, the unit's size, zeroed first). False when the LZNT1
// data is malformed.
bool ExpandCompressionUnit(const CompressionUnit& unit, ByteSpan raw, std::span<std::uint8_t> out);

// Compression units above this size (clusters larger than 64 KiB) are not
// decoded.
inline constexpr std::uint64_t kMaxCompressionUnitBytes = 1u << 20;
// The unit size in bytes of a compressed node, 0 when it is not compressed
// or its unit cannot be decoded.
std::uint64_t CompressionUnitBytes(const FoundFileNode& node, std::uint32_t spc);

// Loads the $Bitmap (record 6) into `out` (bit c set: cluster c in use).
// Accepts only a size between 1 byte and clusters/8 + 8 (at most 256 MiB);
// otherwise `out` is left empty and the result is false.
bool LoadNtfsClusterBitmap(const PartitionInfo& partition, const std::atomic<std::uint32_t>* stopWord,
                           std::vector<std::uint8_t>& out);

}  // namespace ambrel
