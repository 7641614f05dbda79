// Writing found items under a target folder: folders recursively, files
// through their extents. Called only on a copying thread.
#pragma once

#include <cstdint>
#include <string>

#include "app/progress.h"
#include "fs/data_extent.h"
#include "platform/output_file.h"
#include "recovery/save_job.h"

namespace ambrel {

// Where SaveItem writes one item: the folder (or, for "open", the file path)
// and the node.
struct SaveTarget {
  std::string folder;
  std::uint32_t row = 0;
  std::uint32_t nodeId = 0;
  int depth = 0;
};

// Saves the item (a folder with everything below it, or a file) into
// `target.folder`. With `onlyChecked`, items whose check state is neither
// 1 nor 2 are skipped.
void SaveItem(SaveJob& job, ScanProgress& progress, const SaveTarget& target, bool onlyChecked);

// Writes the file node (row, nodeId) to the file `path`; true on success
// (a skipped existing file included).
bool SaveFile(SaveJob& job, ScanProgress& progress, std::uint32_t row, std::uint32_t nodeId,
              const std::string& path);

// The data extents of a node; true when at least one results.
bool BuildExtents(const FoundFileNode& node, const PartitionInfo& partition, ExtentList& extents);

enum class WriteOutcome { kDone, kReadFailed, kWriteFailed, kStopped, kOpenFailed };

// Copies `size` bytes of the node's data, read through `extents`, into
// `file`, dropping the first `skipBytes` bytes of the data (below 512).
// Applies the read-error policy (the caller truncates for policy 0).
WriteOutcome WriteFromExtents(const ExtentList& extents, ScanProgress& progress, SaveJob& job,
                              const PartitionInfo& partition, OutputFile& file, std::uint64_t size,
                              std::uint32_t readErrors, std::uint32_t skipBytes = 0);

// Writes the resident $DATA value of an NTFS record (`size` bytes, zero
// padded).
WriteOutcome WriteResidentData(ScanProgress& progress, const PartitionInfo& partition,
                               const FoundFileNode& node, OutputFile& file, std::uint64_t size);

// Folder creation with the invalid-character retry; false when it cannot be
// made (its subtree is then skipped). `path` may be changed by the retry.
bool EnsureDirectory(std::string& path);

// Adds `n` bytes to the current-file and run counters and publishes.
void CountCopiedBytes(ScanProgress& progress, std::uint64_t n);
void SetCurrentFile(ScanProgress& progress, const std::string& name, std::uint64_t size);

}  // namespace ambrel
