// Reading a found NTFS file's data into memory (preview, copy-out of small
// files) and loading the volume's cluster bitmap. Called on a worker thread;
// each call opens and closes its own read-only handle.
#pragma once

#include <atomic>
#include <cstdint>

#include "catalog/found_file_node.h"
#include "catalog/partition_info.h"

namespace ambrel {

// For a node with resident data: copies the record's $DATA value into the
// 1024-byte buffer (zeroed first) and returns its length; 0 on failure.
std::uint32_t ReadResidentData(const PartitionInfo& partition, const FoundFileNode& node,
                               std::uint8_t* buffer1024);

// Reads the first `wanted` bytes (at most the file's size) into `buffer`.
// Sparse runs read as zeros. A failed read or a stop request (the word reads
// 2) ends early; the result is still true when the run list could be
// resolved, so the buffer may hold fewer bytes.
bool ReadNtfsFileData(const FoundFileNode& node, const PartitionInfo& partition,
                      const std::atomic<std::uint32_t>* stopWord, std::uint64_t wanted,
                      std::uint8_t* buffer);

// Loads the $Bitmap (record 6) into the allocation map. Accepts only a size
// between 1 byte and clusters/8 + 8 (at most 256 MiB); otherwise the map is
// left empty and the result is false.
bool LoadNtfsClusterBitmap(const PartitionInfo& partition,
                           const std::atomic<std::uint32_t>* stopWord);

}  // namespace ambrel
