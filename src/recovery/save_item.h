// Writing found items under a target folder: folders recursively, files
// through their extents. Called only on a copying thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
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

// The data extents of a node; true when at least one results. `end`, when
// given, gets how the walk of a FAT or exFAT chain ended.
bool BuildExtents(const FoundFileNode& node, const PartitionInfo& partition, ExtentList& extents,
                  ChainEnd* end = nullptr);

enum class WriteOutcome { kDone, kReadFailed, kWriteFailed, kStopped, kOpenFailed };

// What one file's copy met: unreadable sectors (zeros, or the end of the
// file, by the policy) and compression units that could not be decoded.
struct FileTally {
  std::uint64_t written = 0;
  std::uint64_t badSectors = 0;
  std::uint64_t undecodableUnits = 0;
};

// Reads `count` sectors; when the read fails it is tried again in halves,
// down to single sectors, so that only the sectors that really fail read as
// zeros. Returns their number; `firstBad` gets the index of the first
// (count when none).
std::uint64_t ReadSalvaging(DiskHandle& handle, std::uint64_t lba, std::uint32_t count, std::uint8_t* buffer,
                            std::uint64_t& firstBad);

// Copies `size` bytes of the node's data, read through `extents`, into
// `file`, dropping the first `skipBytes` bytes of the data (below 512).
// Applies the read-error policy: with "all" unreadable sectors become zeros
// (the outcome stays kDone, the tally counts them); otherwise the file ends
// at the first one with kReadFailed (the caller truncates for policy 0).
WriteOutcome WriteFromExtents(const ExtentList& extents, ScanProgress& progress, SaveJob& job,
                              const PartitionInfo& partition, ByteSink& file, std::uint64_t size,
                              std::uint32_t readErrors, std::uint32_t skipBytes = 0, FileTally* tally = nullptr);
WriteOutcome WriteFromExtents(const ExtentList& extents, ScanProgress& progress, SaveJob& job, DiskHandle& handle,
                              ByteSink& file, std::uint64_t size, std::uint32_t readErrors,
                              std::uint32_t skipBytes, FileTally& tally);

// Writes an NTFS compressed file: unit by unit, each LZNT1-decoded (or
// copied when stored whole, or zeros when sparse). An unreadable unit is
// zeros with "all", else it ends the file.
WriteOutcome WriteCompressed(const ExtentList& extents, std::uint32_t spc, std::uint64_t unitBytes,
                             ScanProgress& progress, SaveJob& job, DiskHandle& handle, ByteSink& file,
                             std::uint64_t size, std::uint32_t readErrors, FileTally& tally);

// The bytes a copy skips at the start of the node's first sector (a
// reassembled MTS recording starts inside it).
std::uint32_t LeadingSkipBytes(const FoundFileNode& node);

// Copies the planned data of a resolved node into `file` the way a copy
// writes it: the resident value, the decoded compression units, or the
// extents (with the read-error policy of the job).
WriteOutcome WritePlannedData(SaveJob& job, ScanProgress& progress, const SaveNode& node, const FilePlan& plan,
                              DiskHandle& handle, ByteSink& file, FileTally& tally);

// Opens the source of a partition as the job does (its opener, else
// OpenPartition).
bool OpenJobSource(const SourceOpener& opener, const PartitionInfo& partition, DiskHandle& handle);
// The job's open source of a partition: opened at the first call and kept
// for every later file of the run (null when it cannot be opened; the next
// call tries again). CloseJobSources lets them all go.
DiskHandle* JobSource(SaveJob& job, const PartitionInfo& partition);
void CloseJobSources(SaveJob& job);
// The last sector the source of a partition delivers (0 when it cannot be
// opened).
std::uint64_t SourceLastLba(const SourceOpener& opener, const PartitionInfo& partition);

// Writes the resident $DATA value of an NTFS record (`size` bytes, zero
// padded).
WriteOutcome WriteResidentData(ScanProgress& progress, SaveJob& job, DiskHandle& handle, const FoundFileNode& node,
                               std::uint32_t recordBytes,
                               ByteSink& file, std::uint64_t size);

// Readable sizes of files (PlanFileData), with the source's last sector
// looked up once per partition.
class ReadableSizes {
 public:
  explicit ReadableSizes(SourceOpener opener);
  std::uint64_t Of(const FoundFileNode& node, const PartitionInfo& partition);

 private:
  SourceOpener opener_;
  std::map<const PartitionInfo*, std::uint64_t> lastLba_;
};

// Files below (row, id) that SaveItem would write, and their readable bytes.
struct SaveTotals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};
void CountItem(const SaveSource& source, ReadableSizes& sizes, std::uint32_t row, std::uint32_t id,
               bool onlyChecked, SaveTotals& t, int depth);

// Folder creation with the invalid-character retry; false when it cannot be
// made (its subtree is then skipped). `path` may be changed by the retry.
// With a job, a folder the call makes is recorded in its madeFolders.
bool EnsureDirectory(std::string& path, SaveJob* job = nullptr);

// Adds the time from its making to its end to `into` (seconds).
class TimeSpent {
 public:
  explicit TimeSpent(double& into) : into_(into), start_(std::chrono::steady_clock::now()) {}
  ~TimeSpent() { into_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }
  TimeSpent(const TimeSpent&) = delete;
  TimeSpent& operator=(const TimeSpent&) = delete;

 private:
  double& into_;
  std::chrono::steady_clock::time_point start_;
};

// Adds `n` bytes to the current-file and run counters and publishes.
void CountCopiedBytes(ScanProgress& progress, std::uint64_t n);
void SetCurrentFile(ScanProgress& progress, const std::string& name, std::uint64_t size);

}  // namespace ambrel
